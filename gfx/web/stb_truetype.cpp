// stb_truetype's implementation, compiled once for the web build's font engine.
#define STB_TRUETYPE_IMPLEMENTATION
#include "stb_truetype.h"
