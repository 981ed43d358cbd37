// Entry point of Glimmora.exe: the application object runs the whole program.
#include <windows.h>

#include "app/glimmora_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  glimmora::TheApp().InitInstance();
  return 0;
}
