// stb_image's and stb_image_write's implementations, compiled once for the web build:
// PNG pictures, and the inflate that the game archive's reader uses too.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image.h"
#include "stb_image_write.h"
