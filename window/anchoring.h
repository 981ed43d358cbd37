#pragma once
// Controls that keep their distance to the right and bottom edges of their
// page as the page is resized, measured once from the page's template.

#include <windows.h>

#include <initializer_list>
#include <vector>

namespace glimmora {

// What a control's right or bottom edge does as the page's edge moves.
enum class EdgeRule {
  kStays,    // nothing
  kStretch,  // the edge follows; the opposite edge stays (the control grows)
  kFollow,   // the control moves with the edge, keeping its size
};

struct Anchor {
  int controlId;
  EdgeRule right;
  EdgeRule bottom;
  // The control whose distances are measured, when it is another one (the
  // second of two controls in a column that share the first one's); 0: itself.
  int measuredOn = 0;
};

class AnchoredLayout {
 public:
  // Measures each control's distances from the page's right and bottom edges
  // as the page is laid out now. A control the page lacks is left out.
  void Measure(HWND page, std::initializer_list<Anchor> anchors);

  // Places the controls for a page of cx by cy pixels. A stretched edge that
  // would cross its opposite edge stays where it was.
  void Apply(HWND page, int cx, int cy) const;

 private:
  struct Measured {
    Anchor anchor;
    int rightMargin;
    int bottomMargin;
  };
  std::vector<Measured> measured_;
};

}  // namespace glimmora
