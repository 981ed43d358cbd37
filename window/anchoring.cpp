#include "window/anchoring.h"

#include "window/dialog.h"

namespace glimmora {

void AnchoredLayout::Measure(HWND page, std::initializer_list<Anchor> anchors) {
  measured_.clear();
  RECT client;
  GetClientRect(page, &client);
  for (const Anchor& anchor : anchors) {
    HWND measuredControl =
        GetDlgItem(page, anchor.measuredOn != 0 ? anchor.measuredOn : anchor.controlId);
    if (measuredControl == nullptr || GetDlgItem(page, anchor.controlId) == nullptr) continue;
    const RECT rect = WindowRectInParent(measuredControl);
    measured_.push_back({anchor, client.right - rect.right, client.bottom - rect.bottom});
  }
}

void AnchoredLayout::Apply(HWND page, int cx, int cy) const {
  for (const Measured& control : measured_) {
    HWND window = GetDlgItem(page, control.anchor.controlId);
    if (window == nullptr) continue;
    RECT rect = WindowRectInParent(window);
    const int right = cx - control.rightMargin;
    const int bottom = cy - control.bottomMargin;
    if (control.anchor.right == EdgeRule::kStretch && right > rect.left) rect.right = right;
    if (control.anchor.right == EdgeRule::kFollow) OffsetRect(&rect, right - rect.right, 0);
    if (control.anchor.bottom == EdgeRule::kStretch && bottom > rect.top) rect.bottom = bottom;
    if (control.anchor.bottom == EdgeRule::kFollow) OffsetRect(&rect, 0, bottom - rect.bottom);
    MoveWindowTo(window, rect);
  }
}

}  // namespace glimmora
