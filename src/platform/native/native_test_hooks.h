// What tests may observe or steer in the stand-in platform. Nothing in the
// codec calls these; they exist so tests can see what only a user would.
#pragma once

#include <string>

// Message boxes shown so far, and the last one's caption and text.
int NativeMessageBoxShownCount();
std::u16string NativeMessageBoxLastCaption();
std::u16string NativeMessageBoxLastText();
