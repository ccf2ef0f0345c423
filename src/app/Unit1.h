#pragma once
// The main window: menu, tool bar, the photograph view, the bottom panel,
// and the state every command shares. Commands are handlers named after
// component and event; the enabling of commands changes only where noted.

#include <QIcon>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Bitmap.h"
#include "common/Sampling.h"
#include "editing/PupilFit.h"
#include "editing/RedEye.h"
#include "editing/UndoStore.h"
#include "metadata/ImgData.h"
#include "platform/Platform.h"
#include "queue/ImageQueue.h"
#include "save/SaveCommands.h"
#include "settings/Settings.h"
#include "view/ImageOnForm.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QScrollBar;
class QSpinBox;
class QTimer;
class QToolBar;
class QToolButton;
class TDropPanel;
class TPanelStatusBar;
class THelpWindow;

namespace scarlex {
class Platform;
class RedPupilDetector;
class TFAbout;
class TFHints;
class TFPrefs;
class TFTags;
}

// Texts the window shows.
inline constexpr const char* kProgramTitle = "Scarlex";
inline constexpr const char* kCaptionPrefix = "Scarlex : ";
inline constexpr const char* kUnsavedPrompt = "You have unsaved changes... do you want to save them?";
inline constexpr const char* kNothingRemoved =
    "Nothing here passes the red thresholds \u2014 aim at the red, not the white catch-light";
// How long a report of what a command did stays in the status bar.
inline constexpr int kReportMilliseconds = 15000;
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
    QAction* Next1;
    QAction* N1;
    QAction* Save1;
    QAction* AutoSave1;
    QAction* AutoSaveAndClose1;
    QAction* AutoSaveAndNext1;
    QAction* N2;
    QAction* Exit1;
    QMenu* Edit1;
    QAction* Undo1;
    QAction* Redo1;
    QAction* FindRedEyes1;
    QAction* N4;
    QAction* ShowImageTags1;
    QAction* Prefs1;
    QMenu* View1;
    QAction* FitToWindow1;
    QAction* ActualPixels1;
    QAction* ZoomIn1;
    QAction* ZoomOut1;
    QAction* N5;
    QAction* ShowOriginal1;
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
    // The photograph view; its view state (centre, crosshair, radius, limit,
    // magnification, scales) and the magnifier's bitmaps live in it.
    scarlex::ImageOnForm* ImageOnForm;
    // Shown while the view is zoomed.
    QScrollBar* HorzScrollBar;
    QScrollBar* VertScrollBar;
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

    // The secondary windows, created once after the main window and kept
    // for the run (main.cpp creates them at start-up; the first showing
    // creates any still missing).
    scarlex::TFAbout* FAbout = nullptr;
    scarlex::TFHints* FHints = nullptr;
    scarlex::TFPrefs* FPrefs = nullptr;
    scarlex::TFTags* FTags = nullptr;
    void CreateSecondaryWindows();

    // Window events.
    void FormCreate();
    void FormShow();
    void FormResize();
    // Every close request passes here; `canClose` says whether it goes on.
    void FormClose(bool& canClose);
    void FormDestroy();

    // Commands. The save commands return true when the photograph was saved.
    void Open1Click();
    bool Save1Click();
    bool AutoSave1Click();
    void AutoSaveAndClose1Click();
    void Exit1Click();
    void Undo1Click();
    void Redo1Click();
    // View > Show Original, and holding B: the photograph as it was loaded,
    // in the view and the glass; the working bitmap is not touched.
    void ShowOriginal1Click();
    void ShowOriginalHeld(bool held);
    // Edit > Find Red Eyes: circles on the suggested pupils; a click on one
    // leaves it out or takes it back, Enter fixes the selected ones (one
    // undo row each), Esc dismisses them.
    void FindRedEyes1Click();
    void FixSuggestedPupils();
    void DismissSuggestions();
    bool OriginalShown() const { return !OriginalBitmap.Empty(); }
    void ShowImageTags1Click();
    void Prefs1Click();
    void Help2Click();
    void AboutScarlex1Click();
    void TBNextClick();
    void TBAutoSaveNextClick();
    void DropFilesDropped(const std::vector<std::string>& names, int count, QPoint at);
    // A left-button release on the view: the red removal at the crosshair.
    void ImageOnFormMouseUp(const scarlex::ClickRequest& request);

    // Loads one photograph. The file is decoded aside first; when it cannot
    // be (Failed), or the user keeps the edits on screen (Declined), the
    // photograph on screen and everything about it stay as they were.
    scarlex::LoadOutcome LoadImageFile(const std::string& name) override;

    bool AutoSavePossible() override;
    bool OriginalsFolderUsable() const;
    // What an OK in the preferences dialog changes on this window.
    void PreferencesAccepted();

    // The path of the photograph on screen ("" before the first load).
    const std::string& CurrentPath() const { return CurrentFile; }
    const scarlex::Bitmap& Photograph() const { return WorkBitmap; }
    // The settings as read at the first showing and changed by Prefs.
    const scarlex::SettingsModel& CurrentSettings() const { return Settings; }
    // Edits that a close or a load would lose.
    bool HasUnsavedEdits() const;
    // The last report of what a command did ("" once it has gone).
    const QString& Report() const { return ReportText; }

protected:
    // Pieces that live elsewhere and are wired in here: each does the least
    // that keeps the window's own rules whole until then.
    enum class SaveMode { WithDialog, Automatic };
    // Saves the photograph on screen; true when the output was written, and
    // then LastSaveReport says what was written.
    virtual bool SaveCurrent(SaveMode mode);
    scarlex::SaveReport LastSaveReport;
    struct MetadataSummary {
        bool found = false;    // any EXIF, IPTC or comment block
        bool hasExif = false;
        int orientation = 0;  // the EXIF Orientation tag, 0 when there is none
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
    // Fits the photograph to the view panel, and redraws the magnifier
    // when it is shown.
    void RenderView();

    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
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
    void SetUndoRedoEnabled();
    void UpdateScrollBars();
    // Shows the original, or the working bitmap again, as the menu and B say.
    void UpdateOriginalShown();
    void ApplySettings();
    void ConnectView();
    scarlex::EditSettings CurrentEditSettings() const;
    // The close prompt's question, asked where edits on screen would be
    // lost. True when they may go: nothing unsaved, No, or Yes and a save
    // that completed. A load asks only while AskBeforeDiscard is set.
    enum class DiscardBy { Closing, Loading };
    bool ConfirmDiscard(DiscardBy by);
    void SaveCompleted();
    // The title's unsaved-changes mark follows Saved and the undo store.
    void UpdateModifiedMark();
    void ShowReport(const QString& text);
    void ShowLoadFailure(const std::string& name, const std::string& error);
    // A message about a load: at once, or, for the photographs named on the
    // command line, once the window is on the screen behind it.
    void TellAboutLoad(scarlex::MsgType type, const std::string& text);
    // Next's hint says whether it asks before discarding edits.
    void SetNextHint();

    // --- Shared state, in the order the other parts rely on. ---
    // The settings file's values; the fields below that come from the
    // settings are names for its members, so the preferences, the hints
    // window and the save commands work on the same values.
    scarlex::SettingsModel Settings;
    scarlex::Bitmap WorkBitmap;
    // The magnifier's bitmaps, the display bitmap and the view numbers
    // (ViewX/Y, CursorHomeX/Y, CentreX/Y, ScreenDX/DY, CrossX/Y, ViewScale,
    // MagnifierScale, MagnifierOn, LimitActive, CrossHeld, MoveDivisor,
    // Radius, Limit, Magnification) belong to the view, ImageOnForm.
    // The before-edit copy belongs to the removal.
    scarlex::RedEyeRemover Remover;
    // What the save commands see of the photograph on screen.
    scarlex::SaveDocument SaveJpeg;
    scarlex::TimgData ImageMeta;
    std::string& FileNameAppend = Settings.FileNameAppend;
    std::string& RenameExtension = Settings.RenameExtension;
    std::string& LastSaveFolder = Settings.LastSaveFolder;
    std::string& LastOpenFolder = Settings.LastOpenFolder;
    std::string& OriginalsFolder = Settings.OriginalsFolder;
    bool Closing = false;
    bool ImageLoaded = false;
    bool& ShowPopupHints = Settings.ShowPopupHints;
    bool& RenameOriginal = Settings.RenameOriginal;
    bool& ForceGrey = Settings.ForceGrey;
    bool& RememberOpenFolder = Settings.RememberOpenFolder;
    bool& RememberSaveFolder = Settings.RememberSaveFolder;
    bool AbortRemoval = false;
    // Set from the start of a removal until its walk has returned, even
    // when an abort arrives: the commands that change the photograph or
    // the undo store wait for the walk to unwind.
    bool Removing = false;
    bool Saved = false;
    bool& RememberThresholds = Settings.RememberThresholds;
    bool& LimitToGlass = Settings.LimitToGlass;
    bool& AskBeforeDiscard = Settings.AskBeforeDiscard;
    bool& UseOrientation = Settings.UseOrientation;
    bool& AppendEnabled = Settings.AppendEnabled;
    bool& NumberDuplicates = Settings.NumberDuplicates;
    bool& MoveOriginal = Settings.MoveOriginal;
    uint32_t& MagnifierBorderColour = Settings.MagnifierBorderColour;
    uint32_t& LimitBorderColour = Settings.LimitBorderColour;
    int32_t& OpeningMagnification = Settings.OpeningMagnification;
    scarlex::Sampling SourceSampling{{0, 0, 0, 0, 0, 0}};
    scarlex::FileQueue PendingFiles;
    bool& UseIniFile = Settings.UseIniFile;
    bool& StartupHints = Settings.StartupHints;
    int32_t& NextHint = Settings.NextHint;
    scarlex::DBUndoTable DBUndoTable;

    // --- The window's own bookkeeping. ---
    scarlex::Platform& Desktop;
    std::vector<std::string> CommandLine;
    // Kept apart from the open dialog's answer: only a photograph that was
    // actually decoded becomes the target of the save commands.
    std::string CurrentFile;
    std::string HelpFile;
    THelpWindow* HelpViewer = nullptr;
    bool FirstShowDone = false;
    bool LoadingCommandLine = false;
    QString ReportText;
    QTimer* ReportTimer = nullptr;
    // The photograph's EXIF orientation (1 when it has none).
    int PhotoOrientation = 1;
    void ApplyOrientation();
    // B held down; the menu item's tick is the other way to the original.
    bool OriginalHeld = false;
    // Found by Find Red Eyes, in stored pixels, best first.
    struct SuggestedEye {
        scarlex::SuggestedPupil pupil;
        bool selected = true;
    };
    std::vector<SuggestedEye> Suggestions;
    std::unique_ptr<scarlex::RedPupilDetector> Detector;
    void ShowSuggestions();
    // A left release with Ctrl: the pupil under the crosshair, fitted.
    void FixPupilUnderCrosshair(const scarlex::ClickRequest& request, const scarlex::Thresholds& thresholds,
                                const scarlex::RemovalView& numbers);
    // The loaded photograph, rebuilt from the undo rows while it is shown.
    scarlex::Bitmap OriginalBitmap;
};

// The one main window of the program.
extern TMainForm* MainForm;
