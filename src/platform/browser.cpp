#include "platform/browser.h"
