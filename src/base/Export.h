// Marks the members the core library exports by name; everything else in
// the library is built with hidden visibility.
#pragma once
#define VARN_EXPORT __attribute__((visibility("default")))
