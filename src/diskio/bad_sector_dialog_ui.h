#pragma once
// The bad-sector question: retry the failed sectors or skip them, for this
// failure or for all later ones. The answer is g_BadSectorChoice.
#include <QDialog>
#include <QGroupBox>
#include <QLabel>

#include "controls/hover_button.h"
#include "controls/label.h"

namespace qm {

// Shows the bad-sector dialog modally; returns 0 Retry, 1 Skip, 2 Retry All, 3 Skip All.
int RunSectorsBadStatusAction();

class SectorsBadStatusAction : public QDialog {
  Q_OBJECT

 public:
  // Control ids of the dialog's template.
  static constexpr int kMessageId = 1226;
  static constexpr int kPictureId = 1172;
  static constexpr int kRetryId = 1303;
  static constexpr int kRetryAllId = 1302;
  static constexpr int kSkipId = 1301;
  static constexpr int kSkipAllId = 1300;

  explicit SectorsBadStatusAction(QWidget* parent = nullptr);

  // Runs the dialog; the buttons set g_BadSectorChoice, closing it leaves
  // the standing answer. The caller reads g_BadSectorChoice.
  int DoModal();

  CLabel& MessageLabel() { return message_; }
  QLabel& Picture() { return picture_; }
  CHoverButton& RetryButton() { return retry_; }
  CHoverButton& RetryAllButton() { return retryAll_; }
  CHoverButton& SkipButton() { return skip_; }
  CHoverButton& SkipAllButton() { return skipAll_; }

 private:
  void OnInitDialog();
  void Answer(int choice);

  QGroupBox frame_;
  CLabel message_;
  QLabel picture_;
  CHoverButton retry_;
  CHoverButton retryAll_;
  CHoverButton skip_;
  CHoverButton skipAll_;
  double hFactor_ = 1;
  double vFactor_ = 1;
};

}  // namespace qm
