// MinGW only: libjpeg's Windows jconfig.h leaves `boolean` to <rpcndr.h>, which
// JUCE has already read outside the namespace it wraps jpeglib.h in. Declare it
// here, inside that namespace, before the real header.
#pragma once
typedef unsigned char boolean;
#include_next <jpeglib.h>
