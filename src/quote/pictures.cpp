#include "quote/pictures.h"
