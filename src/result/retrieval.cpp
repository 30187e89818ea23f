#include "result/retrieval.h"
