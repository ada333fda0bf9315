#pragma once
// The main window. Form1 owns the widgets and the window's state; each
// subsystem keeps its handlers in its own folder (filelist/, folderscan/,
// convert/, samples/), and the logic they share lives in free functions.
#include <QCursor>
#include <QMargins>
#include <QString>
#include <QWidget>

#include <functional>

class Dialogs;
class QGroupBox;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

// Window pointer settings (tests read these numbers).
enum MousePointerSetting : int {
    kPointerDefault = 0,
    kPointerArrow = 1,
    kPointerHourglass = 11,
    kPointerCustom = 99,
};

// Converts a position or size in twips to device-independent pixels.
constexpr int Twips(int twips) {
    return (twips + 7) / 15;
}

class Form1 : public QWidget {
    Q_OBJECT

public:
    // dialogs carries every modal interaction; programFolder is where the
    // files beside the program are looked up (the executable's folder).
    explicit Form1(Dialogs& dialogs, const QString& programFolder, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up and shutdown.
    void Form_Load();
    void Form_Unload();

    // Options and the output-folder box.
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Text1_Change();
    void Text1_Click();

    // Commands of the push buttons.
    void PushButton1_Click();  // "Add WMA File(s)"
    void PushButton2_Click();  // "Start Converting"
    void PushButton3_Click();  // "Add All WMA File(s) In Folder"
    void PushButton4_Click();  // "..." output folder
    void PushButton8_Click();  // "Clear List"
    void PushButton9_Click();  // "Load Sample/Example Files"

    // The file list's events.
    void ListView1_KeyDown(int keyCode, int shift);
    void ListView1_DblClick();
    void ListView1_MouseDown(int button, int shift, int x, int y);
    void ListView1_ItemClick(QTreeWidgetItem* item);
    void ListView1_MouseMove(int button, int shift, int x, int y);
    void ListView1_MouseUp(int button, int shift, int x, int y);
    // Returns the drop effect: 0 when the drag cannot be dropped here.
    int ListView1_OLEDragOver(const QMimeData* data, int effect);
    void ListView1_OLEDragDrop(const QMimeData* data, int effect);

    // Pointer feedback: over a push button, and over the rest of the window.
    void PointerOverButton();
    void PointerOverBackground();

    // The window's pointer setting (0, 11 or 99) and the list's (1 or 99).
    int MousePointer() const { return mousePointer_; }
    void SetMousePointer(int setting);
    int ListMousePointer() const { return listMousePointer_; }
    void SetListMousePointer(int setting);
    bool HasCustomPointerImage() const { return hasHandCursor_; }

    // The progress bar's value (the exact percentage) and caption.
    double ProgressValue() const { return progressValue_; }
    QString ProgressText() const { return progressText_; }
    void SetProgressValue(double percent);
    void SetProgressText(const QString& text);
    // A run has ended: the desktop is told when the window is not the active
    // one (the window itself says "Done.").
    void TellRunEnded(int converted, int failed);

    bool IsBusy() const { return busy_; }
    Dialogs& dialogs() { return dialogs_; }
    const QString& programFolder() const { return programFolder_; }

    // Test seams: the pause before each file, and what ending the process
    // does. Neither is reachable by a user.
    void setPauseMsForTests(int ms) { pauseMs_ = ms; }
    void setEndProcessForTests(std::function<void()> endProcess) { endProcess_ = std::move(endProcess); }
    // Test seam: where the drag reordering reads the pointer's position on
    // the screen (QCursor::pos() when none is set).
    void setScreenPointerForTests(std::function<QPoint()> read) { screenPointer_ = std::move(read); }

    // The controls, under their designed names.
    QTreeWidget* ListView1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton8 = nullptr;
    QPushButton* PushButton9 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame5 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    QLineEdit* Text1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void BuildControls();
    void ConnectHandlers();
    // Names and descriptions for screen readers.
    void DescribeControls();
    // One palette for the whole window: under a light colour scheme the
    // designed white background, under a dark or high-contrast one the
    // scheme's own colours throughout.
    void FollowColourScheme();
    // Every caption fits its control in the font that draws it.
    void FitCaptions();
    // The window fits the screen's available area, its content scrolling
    // where the designed size does not fit; place also moves it there.
    void FitToScreen(bool place);
    // Fits the window again when its frame's size has changed since the fit.
    void FitToNewFrame();
    // Code that selects an option button or sets the folder box runs the
    // control's handler itself, inside its own step: a failure then reaches
    // the caller's trap and is reported at the caller's line, and never
    // passes through Qt's signal delivery.
    //
    // Selects or clears an option button as a stored value asks; its click
    // handler runs when it becomes selected.
    void RestoreOption(QRadioButton* option, void (Form1::*click)(), bool value);
    // Sets the folder box's text; its change handler runs when the text
    // differs from what the box shows.
    void SetText1(const QString& text);
    // Removes the selected item, unless in the hourglass state.
    void RemoveSelectedItem();
    // Forgets the drag's items when the list loses items.
    void ForgetDragItems();

    Dialogs& dialogs_;
    QString programFolder_;

    int mousePointer_ = kPointerDefault;
    int listMousePointer_ = kPointerDefault;
    QCursor handCursor_;
    bool hasHandCursor_ = false;
    QCursor dragCursor_;
    bool hasDragCursor_ = false;

    // Drag reordering of the list.
    bool dragFlag_ = false;
    QTreeWidgetItem* dragSource_ = nullptr;
    QTreeWidgetItem* hitItem_ = nullptr;
    std::function<QPoint()> screenPointer_;
    // The button of the list's latest double-click.
    Qt::MouseButton doubleClickButton_ = Qt::NoButton;

    // The conversion run.
    bool busy_ = false;
    double progressValue_ = 0.0;
    QString progressText_;
    QString lastBrowsedFolder_;

    int pauseMs_ = 3000;
    std::function<void()> endProcess_;

    // The controls stand in their designed places on designedArea_, which
    // scrolls in the window where the screen is too small for it, and stands
    // centred where the window is larger (maximized on Wayland).
    QScrollArea* scrollArea_ = nullptr;
    QWidget* designedArea_ = nullptr;
    bool skinned_ = false;
    bool placed_ = false;
    // The frame's size around the window when it was last fitted; a window
    // manager tells it only once the window is shown.
    QMargins fittedFrame_;
    QMetaObject::Connection screenWatch_;
};
