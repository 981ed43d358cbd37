#pragma once
// The About page: the icon, the version line and what the program does, all
// fixed texts of its template.

#include "resources/resource.h"
#include "window/dialog.h"

namespace glimmora {

class CAboutDialog : public CDialog {
 public:
  CAboutDialog() noexcept : CDialog(IDD_ABOUT_DIALOG) {}
};

}  // namespace glimmora
