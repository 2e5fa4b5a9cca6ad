#pragma once
// The first page and the program's main window: the user picks the recovery
// mode. Each mode button writes the mode fields of g_AppState and runs the
// device page while this page is hidden; when the program's last page
// closes, this one shows again.
#include "app/page_base.h"

namespace qm {

class CHoverButton;
class CLabel;

// Ids of the mode buttons.
enum ModeButtonId : int {
  kDeletedModeButton = 1016,
  kFormattedModeButton = 1024,
  kPartitionModeButton = 1017,
  kDiskImageModeButton = 1018,
  kRawModeButton = 1019,
};

// What a mode button writes into g_AppState; kKeepField leaves a field as it is.
constexpr int kKeepField = -1;
struct ModeFields {
  int recoveryMode;
  int wholeDiskMode;
  int formattedMode;
  int diskImageMode;
};
// The fields of a mode button (a button id above).
ModeFields ModeFieldsFor(int buttonId);
// Writes them into g_AppState.
void ApplyModeFields(const ModeFields& fields);

class CRecoveryMode : public WizardPage {
  Q_OBJECT

 public:
  explicit CRecoveryMode(QWidget* parent = nullptr);
  ~CRecoveryMode() override;

  CHoverButton* ModeButton(int buttonId) const;
  CLabel* Heading() const { return heading_; }

  // A mode button: set the mode fields, hide, run the device page, show.
  void OnModeButton(int buttonId);

  // Escape and the close box ask before the program ends.
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayOut();

  CHoverButton* deleted_ = nullptr;
  CHoverButton* formatted_ = nullptr;
  CHoverButton* partition_ = nullptr;
  CHoverButton* diskImage_ = nullptr;
  CHoverButton* raw_ = nullptr;
  CLabel* heading_ = nullptr;
};

}  // namespace qm
