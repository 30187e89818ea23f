#include "quote/quote.h"
