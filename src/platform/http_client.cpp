#include "platform/http_client.h"
