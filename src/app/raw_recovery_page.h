#pragma once
// The raw-recovery page: the 17 file types that carving knows, each with a
// check box. Next builds the carving table from the ticked rows, asks for
// the target folder and runs the scan page, whose worker carves the chosen
// sector range.
#include <QLabel>
#include <QTreeWidget>

#include <array>

#include "app/page_base.h"
#include "controls/hover_button.h"
#include "controls/pie_chart.h"
#include "engines/carving_table.h"

namespace qm {

inline constexpr char16_t kNoExtensionSelectedText[] = u"You have not selected any extension. Please select.";

class ExtensionWiseRecovery : public WizardPage {
  Q_OBJECT

 public:
  explicit ExtensionWiseRecovery(QWidget* parent = nullptr);
  ~ExtensionWiseRecovery() override;

  // Next (and Enter).
  void accept() override;
  // Back (and Escape).
  void reject() override;

  // The ticks of the rows, in row order.
  std::array<bool, kCarvingRows> Ticks() const;
  void SetTick(int row, bool ticked);

  QTreeWidget& List() { return list_; }
  QLabel& Hint() { return hint_; }
  CHoverButton& NextButton() { return next_; }
  CHoverButton& BackButton() { return back_; }
  CPieChartWnd& Chart() { return chart_; }
  int rowCount = kCarvingRows;
  std::array<std::u16string, kCarvingRows> shortNames;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnInitDialog();
  void LayoutExtensionPage();

  CPieChartWnd chart_;
  QTreeWidget list_;     // 1002
  CHoverButton next_;    // 1
  CHoverButton back_;    // 2
  QLabel hint_;          // 1151
  QLabel stepPicture_;   // 1162
  QLabel placeholder_;   // 1204
};

}  // namespace qm
