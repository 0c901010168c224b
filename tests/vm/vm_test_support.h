// What the VM tests share: the images and machines of vm_image.h, with GoogleTest.
#pragma once

#include <gtest/gtest.h>

#include "tests/vm/vm_image.h"
