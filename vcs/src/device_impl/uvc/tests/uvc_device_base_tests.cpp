// Tests of the UVC device base: standard properties, stream negotiation and
// streaming into a test sink (filled in below).
#include <gtest/gtest.h>
