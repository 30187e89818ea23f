#include "platform/endpoints.h"
