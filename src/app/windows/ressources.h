#pragma once

// Identifiers shared by the resource script and the code.
#define IDI_LUMIVANE 101
#define IDR_IMAGE_LUMIVANE 102
