#include "result/result.h"
