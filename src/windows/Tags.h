#pragma once
// The image tags window FTags: the metadata listing of the photograph on
// screen. It is filled at every load; ShowImageTags1Click only shows it.

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace scarlex {

class TFTags : public QDialog {
    Q_OBJECT
public:
    explicit TFTags(QWidget* parent = nullptr);

    // At each load: the tag listing, one tag per line, and whether the
    // photograph holds an EXIF block. availabilityChanged follows the
    // latter, for ShowImageTags1's enabled state.
    void Fill(const std::string& listing, bool hasExif);
    bool HasExif() const { return hasExif_; }

    QPlainTextEdit* MTags = nullptr;
    QPushButton* BOK = nullptr;

signals:
    void availabilityChanged(bool enabled);

private:
    bool hasExif_ = false;
};

}  // namespace scarlex
