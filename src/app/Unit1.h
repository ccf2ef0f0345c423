#pragma once
// The main window: menu, tool bar, the photograph view, the bottom panel,
// and the state every command shares. Commands are handlers named after
// component and event; the enabling of commands changes only where noted.

#include <QIcon>
#include <QMainWindow>
#include <QPoint>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "common/Sampling.h"
#include "queue/ImageQueue.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QSpinBox;
class QToolBar;
class QToolButton;
class TDropPanel;
class TPanelStatusBar;
class TPictureBox;
class THelpWindow;

namespace scarlex {
class Platform;
}

// Texts the window shows.
inline constexpr const char* kProgramTitle = "Scarlex";
inline constexpr const char* kCaptionPrefix = "Scarlex : ";
inline constexpr const char* kUnsavedPrompt = "You have unsaved changes... do you want to save them?";
inline constexpr int kDesignWidth = 546;
inline constexpr int kDesignHeight = 623;
inline constexpr int kMinimumWidth = 506;

class TMainForm : public QMainWindow, private scarlex::QueueHost {
    Q_OBJECT
    friend struct MainFormProbe;  // the window tests look at the private state

public:
    // `commandLine` holds the program's arguments, without the program name.
    TMainForm(scarlex::Platform& platform, std::vector<std::string> commandLine, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Main menu.
    QMenuBar* MainMenu1;
    QMenu* File1;
    QAction* Open1;
    QAction* N1;
    QAction* Save1;
    QAction* AutoSave1;
    QAction* AutoSaveAndClose1;
    QAction* N2;
    QAction* Exit1;
    QMenu* Edit1;
    QAction* Undo1;
    QAction* N4;
    QAction* ShowImageTags1;
    QAction* Prefs1;
    QMenu* Help1;
    QAction* Help2;
    QAction* N3;
    QAction* AboutScarlex1;

    // Tool bar, left to right, and its image list.
    QToolBar* ToolBar1;
    std::vector<QIcon> ILButtonBar;
    QWidget* ToolButton2;
    QToolButton* TBOpen;
    QWidget* ToolButton3;
    QToolButton* TBSaveAs;
    QWidget* ToolButton5;
    QToolButton* TBAutoSave;
    QWidget* ToolButton1;
    QToolButton* TBUndo;
    QWidget* ToolButton7;
    QToolButton* TBAutoSaveNext;
    QToolButton* TBNext;

    // Client area: the view panel, then the bottom panel.
    TDropPanel* Panel2;
    TPictureBox* ImageOnForm;
    QWidget* Panel1;
    QSpinBox* SEAttenuation;
    QLineEdit* EThresholdRG;
    QLineEdit* EThresholdRB;
    QLineEdit* EThresholdR;
    QLabel* LR;
    QLabel* LG;
    QLabel* LB;
    QLabel* LRG;
    QLabel* LRB;
    TPanelStatusBar* StatusBar;

    // Window events.
    void FormCreate();
    void FormShow();
    void FormResize();
    // Every close request passes here; `canClose` says whether it goes on.
    void FormClose(bool& canClose);
    void FormDestroy();

    // Commands.
    void Open1Click();
    void Save1Click();
    void AutoSave1Click();
    void AutoSaveAndClose1Click();
    void Exit1Click();
    void Undo1Click();
    void ShowImageTags1Click();
    void Prefs1Click();
    void Help2Click();
    void AboutScarlex1Click();
    void TBNextClick();
    void TBAutoSaveNextClick();
    void DropFilesDropped(const std::vector<std::string>& names, int count, QPoint at);

    // Loads one photograph; false when it could not be decoded, in which case
    // the photograph on screen and everything describing it stay as they were.
    bool LoadImageFile(const std::string& name) override;

    bool AutoSavePossible() override;
    bool OriginalsFolderUsable() const;
    // What an OK in the preferences dialog changes on this window.
    void PreferencesAccepted();

    // The path of the photograph on screen ("" before the first load).
    const std::string& CurrentPath() const { return CurrentFile; }
    const scarlex::Bitmap& Photograph() const { return WorkBitmap; }

protected:
    // Pieces that live elsewhere and are wired in here: each does the least
    // that keeps the window's own rules whole until then.
    enum class SaveMode { WithDialog, Automatic };
    // Saves the photograph on screen; true when the output was written.
    virtual bool SaveCurrent(SaveMode mode);
    struct MetadataSummary {
        bool found = false;    // any EXIF, IPTC or comment block
        bool hasExif = false;
    };
    virtual MetadataSummary ReadMetadata(const std::string& name);
    virtual int UndoRowCount() const;
    virtual void ClearUndoStore();
    // Takes back the newest edit; false when there was none.
    virtual bool UndoLastEdit();
    virtual void LoadSettings();
    virtual void SaveSettings();
    virtual void ShowStartupHints();
    // Called by the removal once it has appended its row to the undo store.
    void EditRecorded();
    // Fits the photograph to the view panel.
    void RenderView();

    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenu();
    void CreateToolBar();
    void CreateClientArea();
    void ConnectCommands();
    void SetWhatsThisTexts();
    void ApplyPopupHints();
    void SetAutoSaveHint();
    void SetNextEnabled(bool enabled) override;
    void SetAutoSaveNextEnabled(bool enabled) override;
    void SetAutoSaveCommandsEnabled();

    // --- Shared state, in the order the other parts rely on. ---
    scarlex::Bitmap WorkBitmap;
    // Magnifying glass: composed view, lens mask, lens content, lens rings,
    // lens source.
    scarlex::Bitmap MagnifierView;
    scarlex::Bitmap LensMask;
    scarlex::Bitmap LensContent;
    scarlex::Bitmap LensRings;
    scarlex::Bitmap LensSource;
    scarlex::Bitmap DisplayBitmap;
    scarlex::Bitmap BeforeEditBitmap;
    // SaveJpeg: the save commands' JPEG object joins here with them.
    scarlex::Platform* MouseCursor = nullptr;
    int32_t ViewX = 0, ViewY = 0;
    int32_t CursorHomeX = 0, CursorHomeY = 0;
    int32_t CentreX = 0, CentreY = 0;
    int32_t ScreenDX = 0, ScreenDY = 0;
    int32_t CrossX = 0, CrossY = 0;
    float ViewScale = 0;
    float MagnifierScale = 0;
    // ImageMeta: the metadata reader (TimgData) joins here; ReadMetadata
    // stands in for it.
    std::string FileNameAppend;
    std::string RenameExtension;
    std::string LastSaveFolder;
    std::string LastOpenFolder;
    std::string OriginalsFolder;
    bool MagnifierOn = false;
    bool Closing = false;
    bool ImageLoaded = false;
    bool LimitActive = false;
    bool ShowPopupHints = true;
    bool RenameOriginal = false;
    bool ForceGrey = true;
    bool RememberOpenFolder = true;
    bool RememberSaveFolder = true;
    bool AbortRemoval = false;
    bool Removing = false;
    bool Saved = false;
    bool CrossHeld = false;
    bool RememberThresholds = false;
    bool AppendEnabled = true;
    bool NumberDuplicates = true;
    bool MoveOriginal = false;
    uint32_t MagnifierBorderColour = 0x00FF0000;  // blue, as 0x00BBGGRR
    uint32_t LimitBorderColour = 0x00FFFF00;      // aqua
    int32_t MoveDivisor = 20;
    int32_t OpeningMagnification = 5;
    int32_t Radius = 100;
    int32_t Limit = 100;
    int32_t Magnification = 5;
    scarlex::Sampling SourceSampling{{0, 0, 0, 0, 0, 0}};
    scarlex::FileQueue PendingFiles;
    bool UseIniFile = false;
    bool StartupHints = true;
    int32_t NextHint = 0;

    // --- The window's own bookkeeping. ---
    scarlex::Platform& Desktop;
    std::vector<std::string> CommandLine;
    // Kept apart from the open dialog's answer: only a photograph that was
    // actually decoded becomes the target of the save commands.
    std::string CurrentFile;
    std::string HelpFile;
    THelpWindow* HelpViewer = nullptr;
    bool FirstShowDone = false;
    int UndoRows = 0;  // stands in for the undo store's row count
};

// The one main window of the program.
extern TMainForm* MainForm;
