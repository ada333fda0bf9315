#include "app/form1.h"

#include "app/dialogs.h"
#include "app/errorreport.h"
#include "app/handlerguard.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/windowfit.h"
#include "desktopbus/desktopbus.h"
#include "runtime/filehelpers.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <unistd.h>

#include <limits>

namespace {

constexpr int kFormWidth = 8040;
constexpr int kFormHeight = 7860;

void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

// The frame around a window, as far as the window system has told it.
QMargins FrameMargins(const QWidget* window) {
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

// A light scheme draws dark text on a light window.
bool IsLightScheme(const QPalette& scheme) {
    const int window = scheme.color(QPalette::Window).lightness();
    return window >= 128 && scheme.color(QPalette::WindowText).lightness() < window;
}

// Screen readers see the main window as an application's frame (a plain
// widget would be a filler inside one).
QAccessibleInterface* MainWindowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("Form1") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

int MouseButtons(const QMouseEvent* e) {
    int buttons = 0;
    if (e->buttons() & Qt::LeftButton)
        buttons |= 1;
    if (e->buttons() & Qt::RightButton)
        buttons |= 2;
    if (e->buttons() & Qt::MiddleButton)
        buttons |= 4;
    return buttons;
}

int ButtonOf(const QMouseEvent* e) {
    switch (e->button()) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
    }
}

int ShiftState(Qt::KeyboardModifiers modifiers) {
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= 1;
    if (modifiers & Qt::ControlModifier)
        shift |= 2;
    if (modifiers & Qt::AltModifier)
        shift |= 4;
    return shift;
}

// The classic key code of a Qt key, for the keys the list looks at.
int KeyCode(const QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Delete:
            return 46;
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Insert:
            return 45;
        default: {
            // Letters, digits and the space bar keep their codes; punctuation
            // does not ("." is character 46, but key code 46 is Delete).
            const int k = e->key();
            const bool same = (k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9) ||
                              k == Qt::Key_Space;
            return same ? k : 0;
        }
    }
}

// A bar whose caption is shown exactly as set: QProgressBar's own format
// would treat "%" in a file name as a placeholder.
class CaptionProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    void setCaption(const QString& caption) {
        caption_ = caption;
        update();
    }
    QString text() const override { return caption_; }

private:
    QString caption_;
};

// The file list's view. Each item shows its whole path where it fits, and
// otherwise loses the path's middle, so that the file name stays in view; the
// pointer resting on an item shows the whole path. The column is as wide as
// set (by start-up, or by the user dragging its divider to reveal long paths)
// and fills the list at least.
//
// Home, End and the arrow keys select the item they land on, also when it is
// the item that already has the keyboard focus (after a removal nothing is
// selected, and the list would otherwise leave it so until the focus moved
// away and back).
class FileListView : public QTreeWidget {
public:
    explicit FileListView(QWidget* parent) : QTreeWidget(parent) {
        setTextElideMode(Qt::ElideMiddle);
        connect(header(), &QHeaderView::sectionResized, this, [this](int, int, int size) {
            if (fitting_)
                return;
            chosenWidth_ = size;
            FitColumn();
        });
        // The list raises its scroll bars whenever it lays them out.
        for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()})
            bar->parentWidget()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ZOrderChange)
            frameOnTop_->raise();
        return QTreeWidget::eventFilter(watched, event);
    }
    void resizeEvent(QResizeEvent* event) override {
        QTreeWidget::resizeEvent(event);
        frameOnTop_->setGeometry(rect());
        frameOnTop_->raise();
    }
    bool viewportEvent(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(event);
            if (QTreeWidgetItem* item = itemAt(help->pos())) {
                QToolTip::showText(help->globalPos(), item->text(0), viewport(), visualItemRect(item));
                return true;
            }
        }
        const bool handled = QTreeWidget::viewportEvent(event);
        if (event->type() == QEvent::Resize)
            FitColumn();
        return handled;
    }

    // Reached by the keyboard with items but none selected, the list selects
    // its current item, so that Delete acts on what the focus frame shows.
    void focusInEvent(QFocusEvent* event) override {
        QTreeWidget::focusInEvent(event);
        if (event->reason() == Qt::MouseFocusReason || topLevelItemCount() == 0 || !selectedItems().isEmpty())
            return;
        QTreeWidgetItem* current = currentItem();
        setCurrentItem(current ? current : topLevelItem(0));
    }
    void keyPressEvent(QKeyEvent* event) override {
        // With no current item (the list took the focus from the mouse) the
        // list's own End would land on the first item, as Home does.
        if (event->key() == Qt::Key_End && !currentItem() && topLevelItemCount() > 0) {
            setCurrentItem(topLevelItem(topLevelItemCount() - 1));
            event->accept();
            return;
        }
        QTreeWidget::keyPressEvent(event);
        switch (event->key()) {
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Left:
            case Qt::Key_Right:
                if (QTreeWidgetItem* landed = currentItem(); landed && !landed->isSelected())
                    setCurrentItem(landed);
                break;
            default:
                break;
        }
    }

private:
    void FitColumn() {
        if (columnCount() == 0)
            return;
        const int width = qMax(chosenWidth_, viewport()->width());
        if (columnWidth(0) == width)
            return;
        fitting_ = true;
        setColumnWidth(0, width);
        fitting_ = false;
    }

    // The list's frame drawn once more, over its header, items and scroll
    // bars: at a fractional scale (125 %, 150 %) Qt rounds those out to whole
    // pixels, and they would cover the frame's right edge.
    class FrameOnTop : public QWidget {
    public:
        explicit FrameOnTop(FileListView* view) : QWidget(view), view_(view) {
            setAttribute(Qt::WA_TransparentForMouseEvents);
            setAttribute(Qt::WA_NoSystemBackground);  // no background, not even a style sheet's
        }

    protected:
        void paintEvent(QPaintEvent*) override {
            QPainter painter(this);
            view_->drawFrame(&painter);
        }

    private:
        FileListView* view_;
    };

    int chosenWidth_ = 0;
    bool fitting_ = false;
    FrameOnTop* frameOnTop_ = new FrameOnTop(this);
};

}  // namespace

Form1::Form1(Dialogs& dialogs, const QString& programFolder, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), programFolder_(programFolder) {
    QAccessible::installFactory(MainWindowAccessible);
    BuildControls();
    FitCaptions();
    DescribeControls();
    ConnectHandlers();
}

Form1::~Form1() = default;

void Form1::BuildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    FollowColourScheme();
    QFont formFont(QStringLiteral("Arial"));
    formFont.setPointSizeF(9);
    formFont.setBold(true);
    setFont(formFont);

    scrollArea_ = new QScrollArea(this);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setAlignment(Qt::AlignCenter);
    scrollArea_->setFocusPolicy(Qt::NoFocus);
    designedArea_ = new QWidget;
    const QSize designed(Twips(kFormWidth), Twips(kFormHeight));
    // At a fractional scale the window system may give the window a pixel or
    // two less than it asked for: the designed area's empty margin gives
    // them up rather than the window showing scroll bars.
    designedArea_->setMinimumSize(designed - QSize(2, 2));
    designedArea_->setMaximumSize(designed);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setWidget(designedArea_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollArea_);
    setFixedSize(designed);
    QWidget* const area = designedArea_;

    ListView1 = new FileListView(area);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    Place(ListView1, 120, 120, 7800, 2535);
    ListView1->setColumnCount(0);
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSortingEnabled(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setDragEnabled(false);
    ListView1->setAcceptDrops(true);
    ListView1->setDragDropMode(QAbstractItemView::DropOnly);
    ListView1->setUniformRowHeights(true);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setToolTip(QStringLiteral(
        "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
        "window to reveal full names."));

    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    auto makeButton = [&buttonFont](const char* name, const char* caption, int left, int top, int width,
                                    int height, QWidget* container) {
        auto* button = new QPushButton(QString::fromLatin1(caption), container);
        button->setObjectName(QString::fromLatin1(name));
        button->setFont(buttonFont);
        button->setAutoDefault(false);
        Place(button, left, top, width, height);
        return button;
    };
    PushButton1 = makeButton("PushButton1", "Add WMA File(s)", 120, 2750, 3840, 405, area);
    PushButton3 = makeButton("PushButton3", "Add All WMA File(s) In Folder", 4080, 2750, 3840, 405, area);
    PushButton8 = makeButton("PushButton8", "Clear List", 120, 3260, 3840, 405, area);
    PushButton9 = makeButton("PushButton9", "Load Sample/Example Files", 4080, 3260, 3840, 405, area);

    Frame5 = new QGroupBox(QStringLiteral("Save Option"), area);
    Frame5->setObjectName(QStringLiteral("Frame5"));
    Place(Frame5, 120, 3735, 7800, 1815);
    Option3 = new QRadioButton(QStringLiteral("Save results to this folder:"), Frame5);
    Option3->setObjectName(QStringLiteral("Option3"));
    Place(Option3, 240, 300, 3615, 255);
    Frame2 = new QGroupBox(Frame5);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Place(Frame2, 480, 510, 6840, 810);
    Text1 = new QLineEdit(Frame2);
    Text1->setObjectName(QStringLiteral("Text1"));
    // No limit of its own: a stored folder longer than a line box's default
    // 32767 characters is shown and kept whole.
    Text1->setMaxLength(std::numeric_limits<int>::max());
    Place(Text1, 240, 300, 5670, 345);
    PushButton4 = new QPushButton(QStringLiteral("..."), Frame2);
    PushButton4->setObjectName(QStringLiteral("PushButton4"));
    PushButton4->setFont(buttonFont);
    PushButton4->setAutoDefault(false);
    Place(PushButton4, 6000, 300, 600, 345);
    Option4 = new QRadioButton(QStringLiteral("Save results in folder of original file"), Frame5);
    Option4->setObjectName(QStringLiteral("Option4"));
    Place(Option4, 240, 1410, 3615, 255);

    Frame1 = new QGroupBox(QStringLiteral("Conversion Options"), area);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Place(Frame1, 120, 5625, 7800, 1050);
    Option1 = new QRadioButton(QStringLiteral("Convert WMA To MP3"), Frame1);
    Option1->setObjectName(QStringLiteral("Option1"));
    Place(Option1, 240, 300, 2160, 270);
    Option2 = new QRadioButton(QStringLiteral("Convert WMA To WAV"), Frame1);
    Option2->setObjectName(QStringLiteral("Option2"));
    Place(Option2, 240, 650, 2535, 285);

    PushButton2 = makeButton("PushButton2", "Start Converting", 120, 6810, 7800, 405, area);

    ProgressBar1 = new CaptionProgressBar(area);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    Place(ProgressBar1, 120, 7330, 7800, 405);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    SetProgressText(QStringLiteral("Progress Bar"));

    // As designed: the MP3 and the "this folder" options are selected.
    Option1->setChecked(true);
    Option3->setChecked(true);
}

void Form1::FollowColourScheme() {
    // The window's own palette holds only what differs from the scheme, so
    // that every control draws with colours that belong together.
    QPalette palette;
    if (IsLightScheme(QApplication::palette()))
        palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
}

void Form1::FitCaptions() {
    for (QAbstractButton* control : designedArea_->findChildren<QAbstractButton*>())
        FitCaption(control);
}

void Form1::DescribeControls() {
    // Buttons, options and titled frames are named by their own captions.
    ListView1->setAccessibleName(QStringLiteral("WMA files to convert"));
    ListView1->setAccessibleDescription(QStringLiteral(
        "The files are converted from top to bottom. Delete or a double-click removes the selected file; "
        "dragging an item moves it."));
    Frame2->setAccessibleName(QStringLiteral("Output folder"));
    Text1->setAccessibleName(QStringLiteral("Output folder"));
    Text1->setAccessibleDescription(
        QStringLiteral("The folder where the results are saved when \"Save results to this folder\" is "
                       "selected."));
    PushButton4->setAccessibleName(QStringLiteral("Choose output folder"));
    PushButton4->setAccessibleDescription(QStringLiteral("Opens a dialog to choose the output folder."));
    // The bar's description is its caption (SetProgressText).
    ProgressBar1->setAccessibleName(QStringLiteral("Conversion progress"));
}

void Form1::ConnectHandlers() {
    // Every handler that Qt calls goes through the guard, so that a failure
    // shows the report and never reaches the event loop.
    auto connectOption = [this](QRadioButton* option, const QString& procedure, void (Form1::*handler)()) {
        ConnectHandler(option, &QRadioButton::toggled, this, dialogs_, procedure, [this, handler](bool on) {
            if (on)
                (this->*handler)();
        });
    };
    connectOption(Option1, QStringLiteral("Option1_Click"), &Form1::Option1_Click);
    connectOption(Option2, QStringLiteral("Option2_Click"), &Form1::Option2_Click);
    connectOption(Option3, QStringLiteral("Option3_Click"), &Form1::Option3_Click);
    connectOption(Option4, QStringLiteral("Option4_Click"), &Form1::Option4_Click);
    ConnectHandler(Text1, &QLineEdit::textChanged, this, dialogs_, QStringLiteral("Text1_Change"),
                   [this] { Text1_Change(); });

    const std::pair<QPushButton*, void (Form1::*)()> commands[] = {
        {PushButton1, &Form1::PushButton1_Click}, {PushButton2, &Form1::PushButton2_Click},
        {PushButton3, &Form1::PushButton3_Click}, {PushButton4, &Form1::PushButton4_Click},
        {PushButton8, &Form1::PushButton8_Click}, {PushButton9, &Form1::PushButton9_Click}};
    for (const auto& [button, handler] : commands) {
        ConnectHandler(button, &QPushButton::clicked, this, dialogs_,
                       button->objectName() + QStringLiteral("_Click"),
                       [this, handler = handler] { (this->*handler)(); });
    }

    ConnectHandler(ListView1, &QTreeWidget::itemPressed, this, dialogs_,
                   QStringLiteral("ListView1_ItemClick"),
                   [this](QTreeWidgetItem* item) { ListView1_ItemClick(item); });
    // Only the left button's double-click removes; the list reports the
    // double-clicks of every button.
    ConnectHandler(ListView1, &QTreeWidget::itemDoubleClicked, this, dialogs_,
                   QStringLiteral("ListView1_DblClick"), [this] {
                       if (doubleClickButton_ == Qt::LeftButton)
                           ListView1_DblClick();
                   });

    // Mouse moves over every control feed the pointer feedback; the list's
    // viewport also carries its mouse, key and drop events.
    for (QWidget* w : findChildren<QWidget*>())
        w->setMouseTracking(true);
    setMouseTracking(true);
    ListView1->viewport()->setMouseTracking(true);
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
    installEventFilter(this);  // moves over the window background
    ListView1->viewport()->installEventFilter(this);
    Text1->installEventFilter(this);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    QWidget* viewport = ListView1->viewport();
    const QEvent::Type type = event->type();

    if (watched == viewport) {
        switch (type) {
            case QEvent::MouseButtonPress: {
                auto* e = static_cast<QMouseEvent*>(event);
                const QPoint p = e->position().toPoint();
                RunUntrapped(dialogs_, QStringLiteral("ListView1_MouseDown"), [&] {
                    ListView1_MouseDown(ButtonOf(e), ShiftState(e->modifiers()), p.x(), p.y());
                });
                return false;
            }
            case QEvent::MouseMove: {
                auto* e = static_cast<QMouseEvent*>(event);
                const QPoint p = e->position().toPoint();
                RunUntrapped(dialogs_, QStringLiteral("ListView1_MouseMove"), [&] {
                    ListView1_MouseMove(MouseButtons(e), ShiftState(e->modifiers()), p.x(), p.y());
                });
                // The list's own drag selection would fight the reordering.
                return dragFlag_;
            }
            case QEvent::MouseButtonDblClick:
                // The list tells of the double-click itself; which button
                // made it is only known here.
                doubleClickButton_ = static_cast<QMouseEvent*>(event)->button();
                return false;
            case QEvent::MouseButtonRelease: {
                auto* e = static_cast<QMouseEvent*>(event);
                const QPoint p = e->position().toPoint();
                RunUntrapped(dialogs_, QStringLiteral("ListView1_MouseUp"), [&] {
                    ListView1_MouseUp(ButtonOf(e), ShiftState(e->modifiers()), p.x(), p.y());
                });
                return false;
            }
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* e = static_cast<QDragMoveEvent*>(event);
                int effect = static_cast<int>(e->proposedAction());
                RunUntrapped(dialogs_, QStringLiteral("ListView1_OLEDragOver"),
                             [&] { effect = ListView1_OLEDragOver(e->mimeData(), effect); });
                if (effect == 0)
                    e->ignore();
                else
                    e->acceptProposedAction();
                return true;
            }
            case QEvent::Drop: {
                auto* e = static_cast<QDropEvent*>(event);
                int effect = static_cast<int>(e->proposedAction());
                RunUntrapped(dialogs_, QStringLiteral("ListView1_OLEDragOver"),
                             [&] { effect = ListView1_OLEDragOver(e->mimeData(), effect); });
                if (effect == 0) {
                    e->ignore();
                    return true;
                }
                // The drop only ever copies: the source keeps what it offered.
                e->setDropAction(Qt::CopyAction);
                e->accept();
                RunUntrapped(dialogs_, QStringLiteral("ListView1_OLEDragDrop"),
                             [&] { ListView1_OLEDragDrop(e->mimeData(), effect); });
                return true;
            }
            default:
                return false;
        }
    }

    if (watched == ListView1 && type == QEvent::KeyPress) {
        auto* e = static_cast<QKeyEvent*>(event);
        RunUntrapped(dialogs_, QStringLiteral("ListView1_KeyDown"),
                     [&] { ListView1_KeyDown(KeyCode(e), ShiftState(e->modifiers())); });
        return false;
    }

    if (watched == Text1 && type == QEvent::MouseButtonRelease) {
        RunUntrapped(dialogs_, QStringLiteral("Text1_Click"), [this] { Text1_Click(); });
        return false;
    }

    if (type == QEvent::MouseMove) {
        // A move that a control passes on to its container belongs to the
        // control under the pointer: only the innermost widget counts. A
        // disabled control leaves its moves to the window around it.
        auto* w = qobject_cast<QWidget*>(watched);
        const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (w && !w->childAt(p)) {
            const bool overList = w == ListView1 || ListView1->isAncestorOf(w);
            const bool background = w == this || w == designedArea_ || w == scrollArea_->viewport();
            void (Form1::*feedback)() = nullptr;
            if (!w->isEnabled())
                feedback = &Form1::PointerOverBackground;
            else if (qobject_cast<QPushButton*>(w))
                feedback = &Form1::PointerOverButton;
            else if (background || w == Frame1 || w == Frame2 || w == Frame5 || w == Option1 || w == Option2 ||
                     w == Option3 || w == Option4 || w == Text1 || overList)
                feedback = &Form1::PointerOverBackground;
            if (feedback) {
                const QString control = background ? QStringLiteral("Form")
                                        : overList ? ListView1->objectName()
                                                   : w->objectName();
                RunUntrapped(dialogs_, control + QStringLiteral("_MouseMove"), [&] { (this->*feedback)(); });
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::Form_Load() {
    ErrorTrap trap(dialogs_, FormLocation(QStringLiteral("Form_Load")));

    trap.run(100, [this] {
        skinned_ = LoadSkin(this, programFolder_);
        // A skin's fonts are fitted as the designed ones are.
        if (skinned_)
            FitCaptions();
    });
    trap.run(102, [this] {
        setWindowTitle(QLatin1String(kProductTitle));
        setWindowIcon(QIcon(QStringLiteral(":/icons/brenvale.png")));
        SetAppTitle(QLatin1String(kProductTitle));
    });
    const QString handPath = programFolder_ + QStringLiteral("/HAND-M.CUR");
    if (trap.test(104, [&] { return FileExists(handPath); })) {
        trap.run(106, [&] {
            // A cursor file that cannot be loaded (unreadable, no picture, or
            // not a regular file, which is never waited for) fails here.
            const QPixmap picture = LoadPicture(handPath);
            // The hot spot is the tip of the drawn index finger.
            handCursor_ = QCursor(picture, 7, 0);
            hasHandCursor_ = true;
        });
    }
    trap.run(128, [this] {
        ListView1->setColumnCount(1);
        ListView1->setHeaderLabels({QStringLiteral(" WMA File(s)")});
    });
    trap.run(130, [this] { ListView1->setColumnWidth(0, Twips(7000)); });
    trap.run(132, [this] {
        // The desktop folder is worked out only when no folder is stored.
        const QString text = GetBrenvaleSettingOrElse(
            QStringLiteral("Text1"), [] { return QVariant::fromValue(DesktopFolderPath()); });
        SetText1(text);
    });
    trap.run(134, [this] {
        RestoreOption(Option1, &Form1::Option1_Click,
                      TextToBool(GetBrenvaleSetting(QStringLiteral("Option1"), 1)));
    });
    trap.run(136, [this] {
        RestoreOption(Option2, &Form1::Option2_Click,
                      TextToBool(GetBrenvaleSetting(QStringLiteral("Option2"), 0)));
    });
    trap.run(138, [this] {
        RestoreOption(Option3, &Form1::Option3_Click,
                      TextToBool(GetBrenvaleSetting(QStringLiteral("Option3"), 1)));
    });
    trap.run(140, [this] {
        RestoreOption(Option4, &Form1::Option4_Click,
                      TextToBool(GetBrenvaleSetting(QStringLiteral("Option4"), 0)));
    });
    if (trap.test(142, [this] { return Option3->isChecked(); }))
        trap.run(144, [this] { Frame2->setEnabled(true); });
    else
        trap.run(146, [this] { Frame2->setEnabled(false); });
}

void Form1::RestoreOption(QRadioButton* option, void (Form1::*click)(), bool value) {
    if (value) {
        // The click handler runs when the button becomes selected; one that
        // is selected already stays as it is.
        if (option->isChecked())
            return;
        {
            const QSignalBlocker block(option);
            option->setChecked(true);
        }
        (this->*click)();
        return;
    }
    // Clearing selects nothing and runs no handler; an exclusive group would
    // refuse to clear its selected button.
    const QSignalBlocker block(option);
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

void Form1::SetText1(const QString& text) {
    if (Text1->text() == text)
        return;
    {
        const QSignalBlocker block(Text1);
        Text1->setText(text);
    }
    Text1_Change();
}

void Form1::Option1_Click() {
    SaveBrenvaleSetting(QStringLiteral("Option1"), BoolText(Option1->isChecked()));
    SaveBrenvaleSetting(QStringLiteral("Option2"), BoolText(Option2->isChecked()));
}

void Form1::Option2_Click() {
    Option1_Click();
}

void Form1::Option3_Click() {
    SaveBrenvaleSetting(QStringLiteral("Option3"), BoolText(Option3->isChecked()));
    SaveBrenvaleSetting(QStringLiteral("Option4"), BoolText(Option4->isChecked()));
    Frame2->setEnabled(Option3->isChecked());
}

void Form1::Option4_Click() {
    Option3_Click();
}

void Form1::Text1_Change() {
    SaveBrenvaleSetting(QStringLiteral("Text1"), Text1->text());
}

void Form1::Text1_Click() {
    Text1_Change();
}

void Form1::Form_Unload() {
    // Every setting was written when it changed; nothing is saved now, and a
    // tool that is still running is left alone.
    if (endProcess_)
        endProcess_();
    else
        ::_exit(0);
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    RunUntrapped(dialogs_, QStringLiteral("Form_Unload"), [this] { Form_Unload(); });
}

bool Form1::event(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange && !skinned_)
        FollowColourScheme();
    const bool handled = QWidget::event(event);
    // Qt draws the title bar itself on Wayland, and knows its size only once
    // the window is shown (after showEvent): the window is fitted again with it.
    if (event->type() == QEvent::ShowToParent)
        FitToNewFrame();
    return handled;
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (placed_)
        return;
    placed_ = true;
    FitToScreen(true);
    // On another screen, or when the screen's panels change, the window
    // fits again where it stands.
    auto watch = [this](QScreen* s) {
        disconnect(screenWatch_);
        if (s)
            screenWatch_ = connect(s, &QScreen::availableGeometryChanged, this, [this] { FitToScreen(false); });
    };
    watch(screen());
    connect(windowHandle(), &QWindow::screenChanged, this, [this, watch](QScreen* s) {
        watch(s);
        FitToScreen(false);
    });
}

void Form1::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // An X11 window manager tells the frame's size once it has framed the
    // shown window.
    FitToNewFrame();
}

void Form1::FitToNewFrame() {
    // Fitted and, the first time, placed again with the frame now known.
    if (placed_ && FrameMargins(this) != fittedFrame_)
        FitToScreen(fittedFrame_.isNull());
}

void Form1::FitToScreen(bool place) {
    QScreen* s = screen();
    if (!s)
        return;
    fittedFrame_ = FrameMargins(this);
    // One pixel more than a scroll bar: at a fractional scale the window
    // system may round the window's size down by one.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollArea_) + 1;
    const QRect fit = FitWithin(s->availableGeometry(), designedArea_->maximumSize(), fittedFrame_, scrollBar);
    if (OnWayland()) {
        // A compositor that maximizes the window or fills the screen with it
        // demands a surface of exactly its size: the window takes any size,
        // the designed area standing centred where there is room and
        // scrolling where there is not. It opens at the fitted size; the
        // compositor knows panels that the window cannot see, and may make
        // it smaller.
        setMinimumSize(QSize(4 * scrollBar, 4 * scrollBar));
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            resize(fit.size());
    } else {
        setFixedSize(fit.size());
    }
    if (!place)
        return;
    // The frame is placed, not the inside, so that the title bar stays on the
    // screen. Before the window manager has framed the window, the frame's
    // size is not known, and only a position given to the platform window as
    // the frame's makes the window manager place the frame there.
    const QPoint corner = fit.topLeft() - QPoint(fittedFrame_.left(), fittedFrame_.top());
    move(corner);
    if (windowHandle())
        windowHandle()->setFramePosition(corner);
}

void Form1::SetMousePointer(int setting) {
    mousePointer_ = setting;
    switch (setting) {
        case kPointerHourglass:
            setCursor(Qt::WaitCursor);
            break;
        case kPointerCustom:
            if (hasHandCursor_)
                setCursor(handCursor_);
            else
                setCursor(Qt::ArrowCursor);
            break;
        case kPointerArrow:
            setCursor(Qt::ArrowCursor);
            break;
        default:
            unsetCursor();
            break;
    }
}

void Form1::SetListMousePointer(int setting) {
    listMousePointer_ = setting;
    QWidget* viewport = ListView1->viewport();
    if (setting == kPointerCustom && hasDragCursor_)
        viewport->setCursor(dragCursor_);
    else if (setting == kPointerCustom || setting == kPointerArrow)
        viewport->setCursor(Qt::ArrowCursor);
    else
        viewport->unsetCursor();
}

void Form1::SetProgressValue(double percent) {
    progressValue_ = percent;
    ProgressBar1->setValue(qBound(0, qRound(percent), 100));
    // Docks show the run's progress on the program's icon; a bar back at 0
    // means no run is under way.
    ShowLauncherProgress(qBound(0.0, percent / 100.0, 1.0), percent > 0.0);
}

void Form1::TellRunEnded(int converted, int failed) {
    if (!isActiveWindow())
        NotifyRunEnded(converted, failed);
}

void Form1::SetProgressText(const QString& text) {
    progressText_ = text;
    static_cast<CaptionProgressBar*>(ProgressBar1)->setCaption(text);
    // Screen readers learn the file in work as the bar's description; Qt
    // tells them of the change itself.
    ProgressBar1->setAccessibleDescription(text);
}
