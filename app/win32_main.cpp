#include <windows.h>

#include "update/images.h"

// Placeholder entry point until the dialog arrives: proves the Windows build links the carried images.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  return fwu::MainImage().size() == fwu::kMainImageSize ? 0 : 1;
}
