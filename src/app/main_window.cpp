#include "app/main_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "platform/files.h"
#include "platform/qt/qt_text.h"
#include "search/booking_page.h"
#include "search/hosts.h"
#include "side/chrome.h"
#include "side/help_window.h"

namespace vellora {
namespace {

struct ColumnSpec {
  const char16_t* title;
  int width;
  Qt::Alignment alignment;
};

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kCentre = Qt::AlignCenter;

const ColumnSpec kMonitorColumns[] = {
    {u"ID", 0, kLeft},           {u"出发城市", 80, kCentre}, {u"到达城市", 80, kCentre},
    {u"出发日期", 100, kCentre}, {u"心理价位", 80, kCentre}, {u"提示方式", 80, kCentre},
    {u"当前最低", 120, kCentre}, {u"有票", 60, kCentre},
};

const ColumnSpec kFlightColumns[] = {
    {u"NO.", 40, kLeft},     {u"航空公司&航班号", 150, kCentre}, {u"起飞", 140, kCentre},
    {u"到达", 140, kCentre}, {u"最低价", 130, kCentre},
};

const QString kFeedbackAddress = QStringLiteral("mailto:feedback@vellora.example.com");

template <std::size_t N>
QTreeWidget* MakeListView(QWidget* parent, const QString& name, QRect geometry,
                          const ColumnSpec (&columns)[N]) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(name);
  tree->setGeometry(geometry);
  tree->setRootIsDecorated(false);
  tree->setUniformRowHeights(true);
  tree->setSelectionMode(QAbstractItemView::SingleSelection);
  tree->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree->setFont(UiFont(QStringLiteral("幼圆"), 16));
  tree->setColumnCount(static_cast<int>(N));
  auto* header = new QTreeWidgetItem();
  for (std::size_t i = 0; i < N; ++i) {
    const int column = static_cast<int>(i);
    header->setText(column, QString::fromUtf16(columns[i].title));
    header->setTextAlignment(column, columns[i].alignment);
  }
  tree->setHeaderItem(header);
  tree->header()->setStretchLastSection(false);
  tree->header()->setSectionsMovable(false);
  for (std::size_t i = 0; i < N; ++i) {
    const int column = static_cast<int>(i);
    tree->setColumnWidth(column, columns[i].width);
    if (columns[i].width == 0) tree->setColumnHidden(column, true);
  }
  return tree;
}

// The list background picture as bytes: the file that carries it to the list view is written
// from these.
std::string ListBackgroundBytes() {
  QFile file(QStringLiteral(":/list_background.gif"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.readAll();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Gives a list view a background picture through the temporary file "dozlin_lv.dzl", tiled
// and aligned with the list's bottom edge; without bytes, or with show false, it removes it.
void SetListBackgroundImage(QTreeWidget* list, const std::string& picture, bool show, bool tile,
                            bool tile_guard) {
  if (!tile_guard) tile = true;
  QPalette colors = list->viewport()->palette();
  colors.setBrush(QPalette::Base, list->palette().brush(QPalette::Base));
  if (show && !picture.empty()) {
    const std::optional<std::filesystem::path> file = WriteTempFile("dozlin_lv.dzl", picture);
    QPixmap pixmap;
    if (file && pixmap.load(QString::fromStdString(file->string()))) {
      // The viewport is not laid out before the window is shown: take its height from the list.
      const int viewport_height =
          list->height() - list->header()->sizeHint().height() - 2 * list->frameWidth();
      QBrush brush(pixmap);
      brush.setTransform(QTransform::fromTranslate(0, viewport_height - pixmap.height()));
      if (!tile) {
        // Once, at the bottom left: on a canvas of the viewport's size the brush repeats nothing.
        QPixmap canvas(std::max(list->width(), 1), std::max(viewport_height, 1));
        canvas.fill(list->palette().color(QPalette::Base));
        QPainter(&canvas).drawPixmap(0, viewport_height - pixmap.height(), pixmap);
        brush = QBrush(canvas);
      }
      colors.setBrush(QPalette::Base, brush);
    }
  }
  list->viewport()->setPalette(colors);
  list->viewport()->setAutoFillBackground(true);
}

}  // namespace

MainWindow::MainWindow(ProgramState& state, MainWindowContext context)
    : state_(state), context_(std::move(context)) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("Vellora"));
  setWindowIcon(QIcon(QStringLiteral(":/vellora.ico")));
  ApplyWindowChrome(this, {QSize(791, 572), WindowMove::kDragBySurface, false, true});
  BuildControls();
}

void MainWindow::BuildControls() {
  const QFont strip_font = UiFont(QStringLiteral("幼圆"), 12);
  const QFont small_font = UiFont(QStringLiteral("宋体"), 12);

  // The left panel lies beneath the buttons and the summary panel that overlap it.
  auto* left_panel = new PictureBox(this, QStringLiteral("图片框1"), QRect(1, -11, 173, 537),
                                    palette::kBodyTop, palette::kBodyBottom);
  new PictureBox(left_panel, QStringLiteral("图片框2"), QRect(13, 440, 20, 15),
                 palette::kButton.lighter(130), palette::kButton);
  QLabel* feedback = MakeTransparentLabel(
      left_panel, QStringLiteral("超级链接框_问题反馈"), QRect(36, 440, 80, 16),
      QStringLiteral("<a href=\"%1\">软件问题反馈</a>").arg(kFeedbackAddress), Qt::blue,
      small_font);
  feedback->setTextFormat(Qt::RichText);
  feedback->setOpenExternalLinks(false);
  connect(feedback, &QLabel::linkActivated, this,
          [this](const QString& link) { context_.browser.Open(TextFromQString(link)); });

  auto* strip = new PictureBox(this, QStringLiteral("图片框4"), QRect(0, 0, 791, 24),
                               palette::kStripTop, palette::kStripBottom);
  MakeTransparentLabel(strip, QStringLiteral("透明标签1"), QRect(35, 5, 461, 16),
                       QStringLiteral("去哪儿 Vellora 2013版(支持国内,国际航班查询)"), Qt::white,
                       strip_font);
  auto* minimise = new PictureButton(this, QStringLiteral("图形按钮_最小化"), QRect(744, 5, 17, 17),
                                     ButtonGlyph::kMinimise, palette::kButton);
  connect(minimise, &QAbstractButton::clicked, this, &QWidget::showMinimized);
  auto* close = new PictureButton(this, QStringLiteral("图形按钮_关闭"), QRect(765, 5, 17, 17),
                                  ButtonGlyph::kClose, QColor(0xD9, 0x4A, 0x3A));
  connect(close, &QAbstractButton::clicked, this, [this] { ConfirmExit(); });

  new PictureBox(this, QStringLiteral("画板1"), QRect(2, 24, 174, 30), palette::kBodyTop,
                 palette::kBodyBottom);
  new PictureButton(this, QStringLiteral("图形按钮_增加航线"), QRect(2, 25, 56, 28),
                    ButtonGlyph::kPlus, palette::kButton);
  new PictureButton(this, QStringLiteral("图形按钮_修改航线"), QRect(60, 25, 56, 28),
                    ButtonGlyph::kPencil, palette::kButton);
  new PictureButton(this, QStringLiteral("图形按钮_删除航线"), QRect(118, 25, 55, 28),
                    ButtonGlyph::kMinus, palette::kButton);

  auto* bar = new PictureBox(this, QStringLiteral("图片框13"), QRect(173, 24, 618, 30),
                             palette::kStripTop.lighter(115), palette::kStripTop);
  date_line_ =
      MakeTransparentLabel(bar, QStringLiteral("透明标签_今天日期星期"), QRect(188, 1, 239, 24),
                           QString(), palette::kLightBlue, strip_font, Qt::AlignCenter);
  QLabel* help =
      MakeTransparentLabel(bar, QStringLiteral("透明标签3"), QRect(554, 1, 56, 24),
                           QStringLiteral("帮助信息"), Qt::black, strip_font, Qt::AlignCenter);
  ShowHandCursor(help);
  help->installEventFilter(this);

  // Beneath the lower list, which it overlaps.
  new PictureBox(this, QStringLiteral("图片框5"), QRect(173, 438, 618, 90), palette::kBodyTop,
                 palette::kBodyBottom);
  monitor_tree_ = MakeListView(this, QStringLiteral("超级列表框_监控列表"),
                               QRect(173, 53, 618, 187), kMonitorColumns);
  monitor_tree_->viewport()->installEventFilter(this);
  flights_tree_ = MakeListView(this, QStringLiteral("超级列表框_最新10班信息"),
                               QRect(173, 237, 618, 289), kFlightColumns);

  summary_panel_ = new PictureBox(this, QStringLiteral("图片框_左侧备注"), QRect(4, 54, 170, 64),
                                  palette::kBodyTop, palette::kBodyBottom.darker(105));
  summary_route_ =
      MakeTransparentLabel(summary_panel_, QStringLiteral("透明标签_出发地到达地_左侧"),
                           QRect(14, 4, 128, 16), QString(), Qt::black, small_font);
  summary_date_ = MakeTransparentLabel(summary_panel_, QStringLiteral("透明标签_出发日期_左侧"),
                                       QRect(14, 24, 80, 16), QString(), Qt::black, small_font);
  summary_id_caption_ =
      MakeTransparentLabel(summary_panel_, QStringLiteral("透明标签_ID"), QRect(14, 42, 22, 16),
                           QStringLiteral("ID:"), palette::kGrey, small_font);
  summary_id_ = MakeTransparentLabel(summary_panel_, QStringLiteral("透明标签_ID_左侧"),
                                     QRect(38, 42, 126, 16), QString(), palette::kGrey, small_font);
  summary_panel_->hide();

  auto* status_bar = new PictureBox(this, QStringLiteral("图片框3"), QRect(1, 525, 790, 24),
                                    palette::kBodyTop, palette::kBodyBottom);
  status_label_ =
      MakeTransparentLabel(status_bar, QStringLiteral("透明标签_刷新状态"), QRect(8, 4, 327, 16),
                           QStringLiteral("状态:等待中......"), palette::kGrey, small_font);
  MakeTransparentLabel(status_bar, QStringLiteral("透明标签_软件使用次数"), QRect(343, 4, 103, 16),
                       QStringLiteral("(读取中...)"), palette::kGrey, small_font, Qt::AlignCenter);
  QLabel* credit =
      MakeTransparentLabel(status_bar, QStringLiteral("透明标签_作者信息"), QRect(536, 4, 247, 16),
                           QStringLiteral("Vellora 开发组  http://") + ToQString(HomeHost()),
                           palette::kGrey, small_font, Qt::AlignRight | Qt::AlignVCenter);
  ShowHandCursor(credit);
  credit->installEventFilter(this);

  tray_icon_ = new QSystemTrayIcon(this);
  tray_icon_->setObjectName(QStringLiteral("托盘图标1"));
  auto* tray_menu = new QMenu(this);
  tray_menu->setObjectName(QStringLiteral("菜单"));
  connect(tray_menu->addAction(QStringLiteral("显示界面")), &QAction::triggered, this,
          &MainWindow::RestoreMainWindow);
  connect(tray_menu->addAction(QStringLiteral("退出系统")), &QAction::triggered, this,
          [this] { ConfirmExit(); });
  tray_icon_->setContextMenu(tray_menu);  // the right button pops it up
  connect(tray_icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
              RestoreMainWindow();
            }
          });

  route_menu_ = new QMenu(this);
  route_menu_->setObjectName(QStringLiteral("航线操作菜单"));
  connect(route_menu_->addAction(QStringLiteral("到官网订票")), &QAction::triggered, this,
          &MainWindow::OpenBookingPage);
  monitor_tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(monitor_tree_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) {
            OpenRouteMenu(monitor_tree_->viewport()->mapToGlobal(position));
          });

  date_timer_ = new QTimer(this);
  date_timer_->setObjectName(QStringLiteral("时钟_日期星期"));
  connect(date_timer_, &QTimer::timeout, this, &MainWindow::UpdateDateLine);
  refresh_qtimer_ = new QTimer(this);
  refresh_qtimer_->setObjectName(QStringLiteral("时钟_定时刷新"));

  monitor_list_ = std::make_unique<QtListView>(monitor_tree_);
  status_ = std::make_unique<QtLabel>(status_label_);
  date_timer_period_ = std::make_unique<QtTimer>(date_timer_);
  refresh_timer_ = std::make_unique<QtTimer>(refresh_qtimer_);
  tray_ = std::make_unique<QtTrayIcon>(tray_icon_, context_.tray_available);
  flights_list_ = std::make_unique<QtListView>(flights_tree_);
  date_timer_period_->SetPeriod(1000);

  monitor_ = std::make_unique<MonitorContext>(
      MonitorContext{state_.Monitor, *monitor_list_, *flights_list_, *status_, *refresh_timer_,
                     *tray_, sound_player_, context_.pump, context_.clock, state_.MainRouteStore,
                     context_.run_dir, [this] { RefreshRouteSummary(); }});
  connect(refresh_qtimer_, &QTimer::timeout, this, [this] { OnRefreshTimer(*monitor_); });
}

void MainWindow::Create() {
  setFixedSize(791, 549);
  ClearRouteSummary();
  SetListBackgroundImage(monitor_tree_, ListBackgroundBytes(), true, true, true);
  UpdateDateLine();
  state_.MainRouteStore.LoadRoutes(StorePath(), *monitor_list_);
  RefreshRouteSummary();
  show();
  context_.pump.ProcessPendingEvents();
  context_.pump.ProcessPendingEvents();
  tray_->SetTip(Text::FromGbk("Vellora"));
  tray_icon_->setIcon(QIcon(QStringLiteral(":/vellora.ico")));
  tray_->SetShown(true);
  state_.RefreshMinutes = ReadRefreshMinutes(RefreshTimePath(StorePath()));
  refresh_timer_->SetPeriod(RefreshPeriodMs(state_.RefreshMinutes));
}

void MainWindow::ClearRouteSummary() {
  summary_route_->clear();
  summary_date_->clear();
  summary_id_->clear();
  monitor_list_->DeleteAllRows();
  status_->SetText("状态:等待中......"_gbk);
  summary_panel_->hide();
}

void MainWindow::ShowSummaryOfRow(int row) {
  const RouteSummary summary = SummaryOfRow(*monitor_list_, row);
  summary_route_->setText(ToQString(summary.route));
  summary_date_->setText(ToQString(summary.date));
  summary_id_caption_->setText(QStringLiteral("ID:"));
  summary_id_->setText(ToQString(summary.id));
}

void MainWindow::RefreshRouteSummary() {
  if (monitor_list_->RowCount() == 0) {
    status_->SetText("状态:暂无航线"_gbk);
    summary_panel_->hide();
    return;
  }
  summary_panel_->show();
  ShowSummaryOfRow(0);
  status_->SetText("状态:等待中..."_gbk);
}

void MainWindow::ShowSelectedRouteSummary() {
  const int row = monitor_list_->SelectedRow();
  if (monitor_list_->RowCount() == 0 || row == -1) return;
  ShowSummaryOfRow(row);
}

void MainWindow::UpdateDateLine() {
  const int saved = date_timer_period_->Period();
  date_timer_period_->SetPeriod(0);
  const LocalDateTime now = context_.clock.Now();
  const Text line = "今天是 "_gbk + TodayText(now) + Text::FromGbk(" ") +
                    WeekdayName(DayOfWeek(now.year, now.month, now.day));
  date_line_->setText(ToQString(line));
  date_timer_period_->SetPeriod(saved);
}

bool MainWindow::ConfirmExit() {
  return vellora::ConfirmExit(state_, context_.run_dir, *tray_, context_.end_process);
}

void MainWindow::OpenHomePage() { context_.browser.Open(Text::FromGbk("http://") + HomeHost()); }

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // After the change is complete: showMinimized() shows the window again once the state is set.
  if (event->type() == QEvent::WindowStateChange) {
    QMetaObject::invokeMethod(this, &MainWindow::HideToTray, Qt::QueuedConnection);
  }
}

void MainWindow::HideToTray() {
  if (!isMinimized()) return;
  // Without a notification area a hidden window could never come back: it stays minimised.
  if (!context_.tray_available()) return;
  hide();
  tray_->ShowBalloon(Text::FromGbk("Vellora"), "Vellora 开发组 出品: 机票价格监控"_gbk, 3000);
}

void MainWindow::RestoreMainWindow() {
  show();
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

void MainWindow::OpenRouteMenu(const QPoint& global_position) {
  state_.MenuRow = monitor_list_->SelectedRow();
  route_menu_->popup(global_position);
}

void MainWindow::OpenBookingPage() {
  const int row = state_.MenuRow;
  // The list may have been reloaded since the menu opened.
  if (row < 0 || row >= monitor_list_->RowCount()) return;
  context_.browser.Open(BookingPageUrl(monitor_list_->Cell(row, kColumnFromCity),
                                       monitor_list_->Cell(row, kColumnToCity),
                                       monitor_list_->Cell(row, kColumnDate)));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (ConfirmExit()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == monitor_tree_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      RefreshSelectedRoute(*monitor_);
    }
    return false;
  }
  const bool press = event->type() == QEvent::MouseButtonPress;
  const bool release = event->type() == QEvent::MouseButtonRelease;
  if (!press && !release) return QWidget::eventFilter(watched, event);
  auto* mouse = static_cast<QMouseEvent*>(event);
  if (watched == monitor_tree_->viewport()) {
    // A press outside every row clears the selection, as a Windows list does.
    if (press && monitor_tree_->itemAt(mouse->position().toPoint()) == nullptr) {
      monitor_tree_->clearSelection();
      monitor_tree_->setCurrentItem(nullptr);
    }
    if (release && mouse->button() == Qt::LeftButton) ShowSelectedRouteSummary();
    return false;
  }
  if (press && mouse->button() == Qt::LeftButton) {
    if (watched->objectName() == QStringLiteral("透明标签3")) {
      OpenHelpWindow();
      return true;
    }
    if (watched->objectName() == QStringLiteral("透明标签_作者信息")) {
      OpenHomePage();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vellora
