#include "platform/encoding.h"
