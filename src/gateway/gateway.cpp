#include "gateway/gateway.h"
