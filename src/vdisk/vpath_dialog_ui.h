#pragma once
// The virtual-disk chooser: Browse picks an image (or a ".vbox" settings
// file) and probes the readers for its format; OK checks the result and
// opens what the format needs; Cancel asks whether to exit.
#include <QDialog>
#include <QLineEdit>

#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"

namespace qm {

class VPath : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kPathEditId = 1080;

  explicit VPath(QWidget* parent = nullptr);
  int DoModal();

  void OnBrowse();
  // Browse's work once a file is chosen (path as picked).
  void OnFileChosen(const QString& path);
  void OnOK();
  void OnCancel();

  // The Open result of the last reader Browse tried; 0 before any Browse.
  int probeResult = 0;

  QLineEdit& PathEdit() { return edit_; }
  CHoverButton& BrowseButton() { return browse_; }
  CHoverButton& OkButton() { return ok_; }
  CHoverButton& CancelButton() { return cancel_; }

 protected:
  void reject() override { OnCancel(); }

 private:
  void OnInitDialog();

  CLabel note_;
  CHoverButton browse_, ok_, cancel_;
  CTransparentStatic heading_;
  QLineEdit edit_;
};

// The chooser's file filter.
inline constexpr char kVirtualFileFilter[] =
    "Virtual Files (*.*)|*.*|Virtual Files (*.vbox;*.vmdk;*.vhd*;*.avhd*;*.vdi;*.hdd;*.hds;*.qed;*.qcow)|*.vbox; "
    "*.vmdk; *.vhd*; *.avhd*; *.vdi; *.hdd; *.hds; *.qed; *.qcow||";

}  // namespace qm
