#pragma once
// The copy progress dialog: opening it starts the copy-out worker; it shows
// the current file's and the whole copy's progress, names, sizes and times,
// and offers Pause/Resume, Skip, Stop and Hide/Show Details. The worker
// closes it when the walk ends. The worker's reports arrive from its own
// thread and are handed to the GUI thread here.
#include <QDialog>

#include <atomic>
#include <functional>
#include <map>
#include <string>

#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "engines/copy_out.h"
#include "platform/job_control.h"

namespace qm {

class SelectionModel;

class DataCopyProgress : public QDialog, public CopyProgressSink {
  Q_OBJECT

 public:
  static constexpr int kPauseId = 1;
  static constexpr int kStopId = 2;
  static constexpr int kSkipId = 1004;
  static constexpr int kDetailsId = 1014;
  static constexpr int kFileCaptionId = 1113;
  static constexpr int kOverallCaptionId = 1114;
  static constexpr int kHintId = 1112;

  // Clears the copy flags and registers itself as g_CopyProgressDlg.
  explicit DataCopyProgress(SelectionModel& tree, QWidget* parent = nullptr);
  ~DataCopyProgress() override;

  // Starts the worker and runs until it has finished (IDCANCEL).
  int DoModal();

  // Test seam: the clock of the elapsed and remaining times.
  void SetClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

  // --- CopyProgressSink (any thread) ---
  void SetControlText(int id, std::u16string_view text) override;
  void SetProgressPos(int id, int pos) override;
  bool DetailsHidden() const override { return detailsHidden_.load() != 0; }
  int64_t NowSeconds() const override;
  int64_t PausedSeconds() const override { return pausedSeconds_.load(); }
  uint64_t SelectedBytes() const override;
  // Asked once, by the worker at the end of its walk: waits for a stop
  // question that is open, and from then on Stop no longer asks, so the end
  // has one outcome and one message.
  bool StoppedByUser() const override;
  void Finish() override;

  // The skin strips of Pause/Resume and Hide/Show Details, below the
  // images folder; each button wears the one of its caption.
  static constexpr char kPauseStrip[] = "/Pause-btn.bmp";
  static constexpr char kResumeStrip[] = "/Resume-btn.bmp";
  static constexpr char kHideDetailsStrip[] = "/HideDetails-btn.bmp";
  static constexpr char kShowDetailsStrip[] = "/ShowDetails-btn.bmp";

  CHoverButton& PauseButton() { return pause_; }
  CHoverButton& StopButton() { return stop_; }
  CHoverButton& SkipButton() { return skip_; }
  CHoverButton& DetailsButton() { return details_; }
  CGradientProgressCtrl& FileBar() { return fileBar_; }
  CGradientProgressCtrl& OverallBar() { return overallBar_; }
  // A static by its control id (captions and values), or null.
  QLabel* Static(int id) const;
  const std::string& TargetFolder() const { return targetFolder_; }
  bool WorkerRunning() const { return worker_.running(); }

 protected:
  // Esc and the close box ask the stop question.
  void reject() override;

 private:
  void OnInitDialog();
  void OnPause();
  void OnSkip();
  void OnStop();
  void OnDetails();
  void OnFinished();
  void AddStatic(int id, const QString& text, QRect where, bool caption);
  // Caption and skin of a two-state button, in its place.
  void SetButtonFace(CHoverButton& button, const char* text, const char* strip);

  SelectionModel& tree_;
  Worker worker_;
  std::atomic<int> finished_{0};
  std::atomic<int> detailsHidden_{0};
  std::atomic<int> stoppedByUser_{0};
  // 0 copying, 1 the stop question is open, 2 the worker is ending.
  mutable std::atomic<int> stopState_{0};
  std::atomic<int64_t> pausedSeconds_{0};
  int64_t pauseStart_ = 0;
  std::string targetFolder_;
  std::function<int64_t()> clock_;

  CHoverButton pause_;
  CHoverButton stop_;
  CHoverButton skip_;
  CHoverButton details_;
  CGradientProgressCtrl fileBar_;
  CGradientProgressCtrl overallBar_;
  CLabel fileCaption_;
  CLabel overallCaption_;
  std::map<int, QLabel*> statics_;
};

}  // namespace qm
