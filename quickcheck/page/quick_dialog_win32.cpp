#include "quickcheck/page/quick_dialog_win32.h"

#include <commctrl.h>

#include <string>

#include "inventory/registry/registry_network.h"
#include "window/message_box.h"

namespace glimmora {

namespace {

// The check's message boxes, owned by the page.
class PageMessageBoxes : public MessageBoxes {
 public:
  explicit PageMessageBoxes(HWND owner) : owner_(owner) {}
  void Show(const std::string& text, MessageIcon icon) override {
    ShowMessageBox(owner_, text,
                   (icon == MessageIcon::kHand ? MB_ICONHAND : MB_ICONEXCLAMATION) | MB_OK);
  }

 private:
  HWND owner_;
};

class ApplicationWaitCursor : public WaitCursor {
 public:
  void Begin() override { BeginWaitCursor(); }
  void End() override { EndWaitCursor(); }
};

}  // namespace

CQuickDialog::CQuickDialog(QuickPageLinks links) noexcept
    : CDialog(IDD_QUICK_DIALOG),
      quickList_(links.quickList),
      monitorList_(m_MonitorList, links.sort) {
  SetSortedListReference(&quickList_);
}

CQuickDialog::~CQuickDialog() {
  if (quickList_ == &m_MonitorList) quickList_ = nullptr;
}

void CQuickDialog::ReplaceCheckServices(ReachabilityProbe* probe,
                                        RegistryAccess* registry) noexcept {
  probe_ = probe != nullptr ? probe : &icmpProbe_;
  registry_ = registry;
}

void CQuickDialog::BindControls() {
  m_MonitorList.Attach(GetDlgItem(IDC_MONITOR_LIST));
}

BOOL CQuickDialog::OnInitDialog() {
  m_MonitorList.SetUp();

  // The name field and the list stretch with the page, the button follows its right edge.
  layout_.Measure(GetSafeHwnd(), {{IDC_WORKSTATION_NAME, EdgeRule::kStretch, EdgeRule::kStays},
                                  {IDC_CHECK, EdgeRule::kFollow, EdgeRule::kStays},
                                  {IDC_MONITOR_LIST, EdgeRule::kStretch, EdgeRule::kStretch}});
  quickList_ = &m_MonitorList;
  return TRUE;
}

void CQuickDialog::OnShowWindow(bool show, UINT /*status*/) {
  if (!show) return;
  if (HWND name = GetDlgItem(IDC_WORKSTATION_NAME)) SetFocus(name);
}

void CQuickDialog::OnSize(UINT /*sizeType*/, int cx, int cy) {
  layout_.Apply(GetSafeHwnd(), cx, cy);
}

bool CQuickDialog::OnCommand(int id, int code, HWND control) {
  if (id == IDC_CHECK && code == BN_CLICKED) {
    OnCheck();
    return true;
  }
  return CDialog::OnCommand(id, code, control);
}

bool CQuickDialog::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_MONITOR_LIST || header->code != static_cast<UINT>(LVN_COLUMNCLICK))
    return CDialog::OnNotify(header, result);
  const auto* click = reinterpret_cast<const NMLISTVIEW*>(header);
  if (click->iSubItem >= 0) {
    ApplicationWaitCursor waitCursor;
    monitorList_.OnColumnClick(static_cast<std::size_t>(click->iSubItem), waitCursor);
  }
  result = 0;
  return true;
}

RegistryAccess& CQuickDialog::Registry() {
  if (registry_ != nullptr) return *registry_;
  if (!networkRegistry_) networkRegistry_ = CreateNetworkRegistry();
  return *networkRegistry_;
}

void CQuickDialog::OnCheck() {
  HWND name = GetDlgItem(IDC_WORKSTATION_NAME);
  PageMessageBoxes messages(GetSafeHwnd());
  ApplicationWaitCursor waitCursor;
  const QuickCheckOutcome outcome =
      RunQuickCheck(WindowTextOf(name), {probe_, Registry(), monitorList_, messages, waitCursor});
  if (outcome == QuickCheckOutcome::kNameEmpty && name != nullptr) SetFocus(name);
}

}  // namespace glimmora
