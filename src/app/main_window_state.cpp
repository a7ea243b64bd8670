// The main window's share of the interface state kept between runs: its placement, the
// recent-projects list with the Recent menu, and the file list's column layout and sort order.
#include <QAction>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QTreeWidget>
#include <cmath>

#include "app/main_window.h"
#include "platform/files.h"
#include "ui/file_list_view.h"
#include "ui/narrow_text.h"
#include "ui/screen_fit.h"

namespace nimbrel::app {

namespace {
// The file list's columns whose layout is kept between runs: name, size, type and date.
constexpr int kStoredListColumns = 4;
}  // namespace

namespace {

// The placement record's minimised and maximised positions: the window never sets them.
constexpr char kUnsetMinMaxPos[] = "-1,-1,-1,-1";

const QScreen* ScreenOf(const QWidget& window) {
    return window.screen() ? window.screen() : QGuiApplication::primaryScreen();
}

// The stored placement is in the system's device pixels, as a Windows placement record is;
// the window works in Qt's device-independent pixels. With a scale factor other than 1 the two
// differ: a screen keeps its top left corner and scales what lies to its right and below.
double ScaleOf(const QScreen* screen) {
    return screen ? screen->devicePixelRatio() : 1.0;
}

QRect DeviceGeometry(const QScreen& screen) {
    const QRect logical = screen.geometry();
    const double scale = ScaleOf(&screen);
    return QRect(logical.topLeft(), QSize(static_cast<int>(std::lround(logical.width() * scale)),
                                          static_cast<int>(std::lround(logical.height() * scale))));
}

QPoint ToDevicePixels(const QPoint& point, const QScreen* screen) {
    if (!screen) return point;
    const QPoint origin = screen->geometry().topLeft();
    const double scale = ScaleOf(screen);
    return origin + QPoint(static_cast<int>(std::lround((point.x() - origin.x()) * scale)),
                           static_cast<int>(std::lround((point.y() - origin.y()) * scale)));
}

QPoint FromDevicePixels(const QPoint& point) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    for (const QScreen* candidate : QGuiApplication::screens())
        if (DeviceGeometry(*candidate).contains(point)) screen = candidate;
    if (!screen) return point;
    const QPoint origin = screen->geometry().topLeft();
    const double scale = ScaleOf(screen);
    return origin + QPoint(static_cast<int>(std::lround((point.x() - origin.x()) / scale)),
                           static_cast<int>(std::lround((point.y() - origin.y()) / scale)));
}

QSize ToDevicePixels(const QSize& size, const QScreen* screen) {
    const double scale = ScaleOf(screen);
    return QSize(static_cast<int>(std::lround(size.width() * scale)),
                 static_cast<int>(std::lround(size.height() * scale)));
}

// The system's pixels per inch: 96 times the scale factor.
int PixelsPerInch(const QWidget& window) {
    const QScreen* screen = ScreenOf(window);
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch() * ScaleOf(screen))) : 96;
}

// "(1280x1024)": the screen size in device pixels that the size-specific value names carry.
std::string ScreenSizeSuffix(const QWidget& window) {
    const QScreen* screen = ScreenOf(window);
    QSize size = screen ? DeviceGeometry(*screen).size() : QSize();
    return "(" + std::to_string(size.width()) + "x" + std::to_string(size.height()) + ")";
}

// The name the focused control is stored under: the nearest named widget of our own that
// holds the focus (a file-name box rather than the line edit inside it).
QString FocusedControlName(const QWidget& window) {
    for (QWidget* widget = window.focusWidget(); widget && widget != &window;
         widget = widget->parentWidget()) {
        const QString name = widget->objectName();
        if (!name.isEmpty() && !name.startsWith(QStringLiteral("qt_"))) return name;
    }
    return {};
}

}  // namespace

void TfrmMain::AddRecentProject(const QString& path) {
    recent_.Add(ui::ToNarrow(path));
    RebuildRecentMenu();
}

void TfrmMain::RemoveRecentProject(const QString& path) {
    recent_.Remove(ui::ToNarrow(path));
    RebuildRecentMenu();
}

void TfrmMain::RebuildRecentMenu() {
    // The clicked item may be the one being replaced (opening a project moves it to the top), so
    // the old items go once the click is over.
    for (QAction* action : Recent1->actions()) {
        Recent1->removeAction(action);
        action->deleteLater();
    }
    const std::vector<std::string>& items = recent_.Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const int position = static_cast<int>(i);
        QAction* action = Recent1->addAction(ui::FromNarrow(RecentProjects::MenuCaption(position, items[i])));
        action->setObjectName(QStringLiteral("MRUItem%1").arg(position));
        action->setStatusTip(ui::FromNarrow(items[i]));
        action->setToolTip(ui::FromNarrow(items[i]));
        action->setData(position);
        connect(action, &QAction::triggered, this, [this, position] {
            if (position < static_cast<int>(recent_.Items().size()))
                MRUManager1Click(ui::FromNarrow(recent_.Items()[static_cast<std::size_t>(position)]));
        });
    }
    Recent1->setEnabled(!items.empty());
    Recent1->menuAction()->setEnabled(!items.empty());
}

void TfrmMain::MRUManager1Click(const QString& path) {
    const std::string narrow = ui::ToNarrow(path);
    // A folder of that name is no project either: it goes like a deleted file.
    if (platform::FileExists(narrow) && !platform::DirectoryExists(narrow))
        RunCommand([&] { LoadProject(path); });
    else
        RemoveRecentProject(path);
    UpdateCommandState();
}

void TfrmMain::setVisible(bool visible) {
    // The first show restores the placement before the window system has a window to place: a
    // position given then is the frame's corner, as stored; given later, the window system would
    // take it for the client area's and the window would creep up by its title bar every start.
    if (visible && !windowStateRestored_) {
        FitToScreen();
        RunCommand([this] { RestoreWindowState(); });
    }
    QMainWindow::setVisible(visible);
}

void TfrmMain::FitToScreen() {
    const QSize fitting = designedSize_.boundedTo(ui::LargestClientSize(*this, ScreenOf(*this)));
    if (fitting != size()) setFixedSize(fitting);
}

void TfrmMain::CentreOnScreen() {
    FitToScreen();
    ui::CentreOnScreen(*this, ScreenOf(*this));
}

void TfrmMain::RestoreWindowState() {
    windowStateRestored_ = true;
    platform::SettingsStore store(kPlacementKey);
    const char* section = kPlacementSection;
    if (store.ReadInteger(section, "FormVersion", 0) < 0) return;

    // Position: the screen-size value first, the plain one when that is missing or empty.
    const std::string suffix = ScreenSizeSuffix(*this);
    auto placementText = [&](const std::string& name) -> std::optional<std::string> {
        std::optional<std::string> text = store.Read(section, name + suffix);
        if (!text || text->empty()) text = store.Read(section, name);
        if (text && text->empty()) text.reset();
        return text;
    };
    const std::optional<std::string> minMaxPos = placementText("MinMaxPos");
    const std::optional<std::string> normPos = placementText("NormPos");
    const QRect frame(ToDevicePixels(pos(), ScreenOf(*this)), ToDevicePixels(frameSize(), ScreenOf(*this)));
    const std::array<int, 4> normal = SplitPlacementText(
        normPos.value_or(""),
        {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()});
    const int pixelsPerInch = store.ReadInteger(section, "PixelsPerInch", PixelsPerInch(*this));
    if ((minMaxPos || normPos) && pixelsPerInch == PixelsPerInch(*this)) {
        // The border is fixed: only the position is taken, the size stays. A degenerate
        // rectangle, or one no screen shows any more (a monitor taken away), keeps the window
        // where it is; one partly off the screen is moved back inside its available area.
        const bool sound = normal[0] < normal[2] && normal[1] < normal[3];
        // The stored rectangle is the frame the window had, which the window system draws again;
        // one that cannot hold the window's client area gives way to the frame known here.
        const QPoint corner = FromDevicePixels(QPoint(normal[0], normal[1]));
        const double scale = ScaleOf(ScreenOf(*this));
        QSize frameSize(static_cast<int>(std::lround((static_cast<double>(normal[2]) - normal[0]) / scale)),
                        static_cast<int>(std::lround((static_cast<double>(normal[3]) - normal[1]) / scale)));
        if (frameSize.width() < width() || frameSize.height() < height() ||
            frameSize.width() > width() + 200 || frameSize.height() > height() + 200)
            frameSize = size().grownBy(ui::FrameMargins(*this));
        const QRect restored(corner, frameSize);
        if (sound) {
            if (const QScreen* screen = ui::ScreenShowing(restored))
                move(ui::KeptInside(restored, screen->availableGeometry()).topLeft());
        }
    }

    switch (ShowStateOf(store.ReadInteger(section, "ShowCmd", 0))) {
        case StoredShowState::Minimised:
            // The whole program starts minimised; the window itself is shown normal first.
            setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
            QMetaObject::invokeMethod(this, &QWidget::showMinimized, Qt::QueuedConnection);
            break;
        case StoredShowState::Maximised:
            setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
            break;
        case StoredShowState::Normal:
        case StoredShowState::Default: break;
    }

    recent_.Load(store, kRecentSection);
    RebuildRecentMenu();

    const QString active = ui::FromNarrow(store.ReadString(section, "ActiveControl", ""));
    if (!active.isEmpty()) {
        QWidget* control = findChild<QWidget*>(active);
        if (control && control->isEnabled() && control->isVisibleTo(this) &&
            (control->focusPolicy() != Qt::NoFocus || control->focusProxy()))
            control->setFocus();
    }
}

void TfrmMain::SaveWindowState(bool destroying) {
    if (!windowStateRestored_) return;
    platform::SettingsStore store(kPlacementKey);
    const char* section = kPlacementSection;
    store.WriteInteger(section, "FormVersion", 0);
    store.WriteInteger(section, "Flags", 0);
    store.WriteInteger(section, "ShowCmd", isMinimized() ? 2 : isMaximized() ? 3 : 1);
    store.WriteInteger(section, "PixelsPerInch", PixelsPerInch(*this));
    const std::string suffix = ScreenSizeSuffix(*this);
    store.WriteString(section, "MinMaxPos" + suffix, kUnsetMinMaxPos);
    store.WriteString(section, "MinMaxPos", kUnsetMinMaxPos);
    // The normal rectangle, outer frame included, also while minimised or maximised. A window
    // system that no longer reports the frame (the window going away) gives the client area
    // with the frame it last had.
    const QMargins frameMargins = ui::FrameMargins(*this);
    QRect normal = frameGeometry();
    if (normal.width() < width() || normal.height() < height())
        normal = geometry().marginsAdded(frameMargins);
    if (isMinimized() || isMaximized()) normal = normalGeometry().marginsAdded(frameMargins);
    normal = QRect(ToDevicePixels(normal.topLeft(), ScreenOf(*this)),
                   ToDevicePixels(normal.size(), ScreenOf(*this)));
    const std::string normPos = JoinPlacementText(
        {normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height()});
    store.WriteString(section, "NormPos" + suffix, normPos);
    store.WriteString(section, "NormPos", normPos);
    const QString active = FocusedControlName(*this);
    if (!active.isEmpty()) store.WriteString(section, "ActiveControl", ui::ToNarrow(active));
    store.WriteString(section, "Visible", destroying ? "1" : "0");
    recent_.Save(store, kRecentSection);
    windowStateSaved_ = true;
}

void TfrmMain::LoadListSettings() {
    platform::SettingsStore store(kListSettingsKey);
    QHeaderView* header = lvFiles->header();
    // The stored layout is that of the four file columns; the caption column keeps its own.
    const int count = std::min(header->count(), kStoredListColumns);

    const std::optional<std::string> order = store.Read("Columns", "Order");
    const std::vector<int> columns = ParseColumnOrder(order ? &*order : nullptr, count);
    for (int position = 0; position < count; ++position) {
        const int column = columns[static_cast<std::size_t>(position)];
        if (column >= 0 && column < count) header->moveSection(header->visualIndex(column), position);
    }

    if (const std::optional<std::string> sizes = store.Read("Columns", "Sizes")) {
        std::vector<int> widths;
        for (int column = 0; column < count; ++column) widths.push_back(header->sectionSize(column));
        ApplyColumnSizes(*sizes, widths);
        for (int column = 0; column < count; ++column) {
            const int width = widths[static_cast<std::size_t>(column)];
            // The Filename column fills what the others leave; a negative width means nothing.
            if (width >= 0 && header->sectionResizeMode(column) != QHeaderView::Stretch &&
                width != header->sectionSize(column))
                header->resizeSection(column, width);
        }
    }

    const bool ascending = store.ReadBool("Sort", "Ascending", true);
    const int sortColumn = std::clamp(store.ReadInteger("Sort", "SortCol", 0), 0, count - 1);
    const Qt::SortOrder sortOrder = ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
    sortColumn_ = sortColumn;
    sortAscending_ = ascending;
    sortShown_ = true;
    listSorted_ = true;
    header->setSortIndicatorShown(true);
    lvFiles->sortItems(sortColumn, sortOrder);
    header->setSortIndicator(sortColumn, sortOrder);
    // "ViewStyle" is not read: the list only knows the report view, which it stores as 3.
}

void TfrmMain::StoreListSettings() {
    platform::SettingsStore store(kListSettingsKey);
    QHeaderView* header = lvFiles->header();
    std::vector<int> order;
    std::vector<int> sizes;
    for (int i = 0; i < header->count(); ++i) {
        const int column = header->logicalIndex(i);
        if (column >= kStoredListColumns) continue;
        order.push_back(column);
        sizes.push_back(header->sectionSize(i));
    }
    store.WriteString("Columns", "Order", JoinIntegers(order));
    store.WriteString("Columns", "Sizes", JoinIntegers(sizes));
    store.WriteBool("Sort", "Ascending", header->sortIndicatorOrder() == Qt::AscendingOrder);
    const int sorted = header->sortIndicatorSection();
    store.WriteInteger("Sort", "SortCol", sorted >= 0 && sorted < kStoredListColumns ? sorted : 0);
    store.WriteInteger("ViewStyle", "ViewStyle", 3);
}

}  // namespace nimbrel::app
