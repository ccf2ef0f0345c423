#pragma once
// The preferences dialog FPrefs. It is created once and kept, so it opens
// on the page last shown. Prefs1Click is Edit(): it fills the controls from
// the settings, shows the dialog modally and, on OK, takes the values back.

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "settings/Settings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace scarlex {

class PopupHints;

// A colour swatch (a TShape): reports any mouse button pressed on it.
class ColourSwatch : public QFrame {
    Q_OBJECT
public:
    explicit ColourSwatch(QWidget* parent = nullptr);
    void SetColour(uint32_t colour);  // 0x00BBGGRR
    uint32_t Colour() const { return colour_; }

signals:
    void mouseDown();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    uint32_t colour_ = 0;
};

// A label drawn as an underlined link with a hand cursor.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TFPrefs : public QDialog {
    Q_OBJECT
public:
    // `settingsPath` is the file that "Remove ini file" deletes.
    TFPrefs(Platform& platform, std::string settingsPath, QWidget* parent = nullptr);

    // Prefs1Click. Returns true when OK was pressed and every value was
    // taken back; `apply` then runs once with the new values (the main
    // window switches its pop-up hints, sets TBAutoSave's hint, enables the
    // auto-save commands by AutoSavePossible and rebuilds the magnifier).
    // Cancel leaves `settings` as it was. An opening magnification that is
    // not an integer shows "'%s' is not a valid integer value" and stops
    // after UseIniFile has been taken back; `apply` does not run.
    bool Edit(SettingsModel& settings, const ApplySettings& apply = {});

    // The two halves of Edit around the modal showing.
    void Fill(const SettingsModel& settings);
    bool TakeBack(SettingsModel& settings, const ApplySettings& apply = {});

    // Handlers.
    void FormShow();
    void CBHintsClick();
    void ColorBorderMouseDown();
    void ColorLimitMouseDown();
    void BSelDirClick();
    void RemoveIniFileLabelClick();

    bool PopupHintsShown() const;

    // Non-visual parts: the colour dialogs keep their colour between runs,
    // the folder dialog its starting folder.
    struct ColourDialogState {
        uint32_t Color = 0;
    };
    struct FolderDialogState {
        std::string Title = "Folder to move original files to";
        std::string Directory;
    };
    ColourDialogState CDBorder;
    ColourDialogState CDLimit;
    FolderDialogState DirDlg;

    // Controls, by page.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TGeneral = nullptr;
    QCheckBox* CBIni = nullptr;
    LinkLabel* RemoveIniFileLabel = nullptr;
    QCheckBox* CBHints = nullptr;
    QCheckBox* CBShowHints = nullptr;

    QWidget* TFiles = nullptr;
    QCheckBox* CBAppendChars = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* EFileNameAppend = nullptr;
    QCheckBox* CBRenameExtension = nullptr;
    QLineEdit* ERenameExtension = nullptr;
    QCheckBox* CBOriginalsFolder = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* EOriginalsFolder = nullptr;
    QPushButton* BSelDir = nullptr;
    QCheckBox* CBOpenFileFolder = nullptr;
    QCheckBox* CBSaveFileFolder = nullptr;
    QCheckBox* CBNumberDuplicates = nullptr;
    QCheckBox* CBKeepQuality = nullptr;
    QCheckBox* CBAskBeforeDiscard = nullptr;

    QWidget* TMainControls = nullptr;
    ColourSwatch* ColorBorder = nullptr;
    QLabel* Label4 = nullptr;
    ColourSwatch* ColorLimit = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* EOpeningMagnification = nullptr;
    QLabel* Label6 = nullptr;
    QCheckBox* CBForceToGrey = nullptr;
    QCheckBox* CBRememberThresholdSettings = nullptr;
    QCheckBox* CBLimitToGlass = nullptr;
    QCheckBox* CBUseOrientation = nullptr;

    QPushButton* BitBtn1 = nullptr;  // OK
    QPushButton* BitBtn2 = nullptr;  // Cancel

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildGeneral();
    void BuildFiles();
    void BuildMainControls();

    Platform& platform_;
    std::string settingsPath_;
    bool useIniFile_ = false;  // the setting as filled, for FormShow
    PopupHints* hints_ = nullptr;
};

}  // namespace scarlex
