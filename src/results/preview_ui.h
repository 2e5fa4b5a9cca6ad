#pragma once
// The preview pane under the results list and the worker that extracts the
// selected file for it: pictures, RTF documents and ZIP directories are
// shown, any other file gets the "no preview" picture. Open extracts the
// same way and hands the copy to the desktop's program for it.
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWidget>

#include <string>
#include <string_view>
#include <vector>

#include "results/rtf_reader.h"
#include "results/zip_lister.h"

class QTextDocument;

namespace qm {

class CGradientProgressCtrl;
class CPictureCtrl;
class ViewDataInControls;

enum class PreviewKind { kNone, kPicture, kRtf, kZip };
// By the name's last four characters, without regard to case.
PreviewKind PreviewKindOf(std::u16string_view name);

inline constexpr char16_t kPreviewWaitText[] = u"Please wait while generating preview......";
inline constexpr char16_t kStopPreviewQuestion[] =
    u"Do you want to stop this process. This may give you incomplete data.";
// RTF files above this size are shown up to it.
constexpr uint64_t kMaxRtfPreviewBytes = 16u << 20;

// The private folder that extracted copies go to, ending in '/'; empty when
// it cannot be made. Made on first use, named after this process; making it
// also removes the folders that runs no longer alive left behind.
std::string PreviewTempFolder();
// Removes the private folder with the copies in it (the results page when it
// closes, and the exit); the next preview makes a new one.
void RemovePreviewTempFolder();

// Fills doc with the runs, one text block per paragraph.
void FillRtfDocument(QTextDocument& doc, const std::vector<RtfRun>& runs);

class CPreviewPane : public QWidget {
  Q_OBJECT

 public:
  enum class State { kIdle, kNoPreview, kPicture, kRtf, kZip };

  explicit CPreviewPane(const QString& imagesFolder, QWidget* parent = nullptr);

  void SetState(State state);
  State CurrentState() const { return state_; }
  // The extraction's progress bar, Stop and wait text.
  void SetBusy(bool busy);
  bool Busy() const { return busy_; }
  // The display step for an extracted copy at path.
  void Display(PreviewKind kind, const QString& path);

  CPictureCtrl& Picture() { return *picture_; }
  QTextEdit& RtfView() { return *rtf_; }
  QTreeWidget& ZipList() { return *zip_; }
  CGradientProgressCtrl& ProgressBar() { return *progress_; }
  QPushButton& StopButton() { return *stop_; }

 signals:
  void stopClicked();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowZip(const QString& path);
  void ShowRtf(const QString& path);
  void LayOut();

  State state_ = State::kIdle;
  bool busy_ = false;
  QLabel* idle_ = nullptr;
  QLabel* noPreview_ = nullptr;
  QFrame* frame_ = nullptr;
  CPictureCtrl* picture_ = nullptr;
  QTextEdit* rtf_ = nullptr;
  QTreeWidget* zip_ = nullptr;
  CGradientProgressCtrl* progress_ = nullptr;
  QPushButton* stop_ = nullptr;
  QLabel* wait_ = nullptr;
  CZipFile zipFile_;
};

// The worker of one preview (openMode 0) or open (1) of the page's
// selected row; starts it unless one runs. False when none was started.
bool StartPreviewThread(ViewDataInControls& page, int openMode);

}  // namespace qm
