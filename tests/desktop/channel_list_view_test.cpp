#include "desktop/channel_list_view.h"
#include "desktop/load_meter.h"
#include "desktop/logo_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

#include "tests/desktop/qt_application.h"
#include "tests/support/peers.h"
#include "vocabulary/channel_glance.h"

namespace vx {
namespace {

ChannelRowTexts row_texts(int index, std::string source) {
  return {std::to_string(index + 1), std::move(source), "", "memo " + std::to_string(index + 1)};
}

// A picture as the transcoder keeps one: a JPEG 320 pixels wide that ffmpeg makes from `source`.
Thumbnail jpeg_thumbnail(const testing_support::fs::path& folder, const std::string& name,
                         const std::string& source) {
  const testing_support::fs::path file = folder / (name + ".jpg");
  testing_support::Peer ffmpeg(
      testing_support::ffmpeg_argv({"-f", "lavfi", "-i", source, "-frames:v", "1", "-y", file}),
      folder / (name + ".out"), folder / (name + ".err"));
  EXPECT_EQ(ffmpeg.wait(testing_support::kRunLimit), 0)
      << testing_support::read_text(folder / (name + ".err"));
  return {testing_support::read_text(file), name};
}

// Ten minutes of a channel at 25 fps and 4500 Kbps that dips to 12 fps and 2000 Kbps for 40 s,
// stops for 30 s (no figures) and then loses its signal for 20 s (0 fps, 0 Kbps).
constexpr int kDipFrom = 300, kDipTo = 340, kGapFrom = 400, kGapTo = 430, kQuietFrom = 500,
              kQuietTo = 520;
std::vector<HistorySample> eventful_history() {
  std::vector<HistorySample> samples(kHistorySamples, {25, 4500, ChannelState::running});
  for (int k = kDipFrom; k < kDipTo; ++k)
    samples[static_cast<std::size_t>(k)] = {12, 2000, ChannelState::running};
  for (int k = kGapFrom; k < kGapTo; ++k)
    samples[static_cast<std::size_t>(k)] = {-1, -1, ChannelState::idle};
  for (int k = kQuietFrom; k < kQuietTo; ++k)
    samples[static_cast<std::size_t>(k)] = {0, 0, ChannelState::no_signal};
  return samples;
}

class ChannelListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::ensure_qt_application();
    list_ = std::make_unique<ChannelListView>();
    list_->resize(820, 220);
  }

  void fill(int rows) {
    for (int i = 0; i < rows; ++i)
      list_->add_row(row_texts(i, "udp://239.0.0." + std::to_string(i)));
  }

  SourceCells open_cells(int row) {
    SourceCells cells([this] { return list_->row_count(); });
    cells.address = "/media/clips";
    cells.bind = "2";
    cells.memo = "new";
    list_->show_cells(row, cells);
    return cells;
  }

  QRect cell_rect(int row, ChannelColumn column) const {
    return list_->visualRect(list_->model()->index(row, static_cast<int>(column)));
  }

  void move_pointer_to(int row) {
    const QPoint at = cell_rect(row, ChannelColumn::memo).center();
    QMouseEvent move(QEvent::MouseMove, at, list_->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list_->viewport(), &move);
  }

  QWidget* child(const char* name) const {
    QWidget* found = list_->viewport()->findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }

  std::unique_ptr<ChannelListView> list_;
};

TEST_F(ChannelListTest, StatusCellRepaintsOnlyWhatChanged) {
  fill(3);
  QSignalSpy changes(list_->model(), &QAbstractItemModel::dataChanged);
  const auto status = static_cast<int>(ChannelColumn::status);

  list_->set_row_state(1, ChannelState::idle, "IDLE");
  list_->set_row_state(1, ChannelState::idle, "");  // the state's own word, as shown already
  EXPECT_EQ(changes.count(), 0);

  list_->set_row_state(1, ChannelState::running, "00:00:01   25fps");
  list_->set_row_state(1, ChannelState::running, "00:00:01   25fps");
  ASSERT_EQ(changes.count(), 1);
  const auto first = changes[0][0].value<QModelIndex>();
  const auto last = changes[0][1].value<QModelIndex>();
  EXPECT_EQ(first, last);
  EXPECT_EQ(first.row(), 1);
  EXPECT_EQ(first.column(), status);
  EXPECT_EQ(first.data().toString(), "00:00:01   25fps");

  // Same word, other picture: extract and running share theirs, stopping has its own.
  list_->set_row_state(1, ChannelState::extract, "00:00:01   25fps");
  EXPECT_EQ(changes.count(), 1);
  list_->set_row_state(1, ChannelState::stopping, "STOPPING");
  EXPECT_EQ(changes.count(), 2);
}

// The Status cell shows a running channel's figures whole at the list's first width, and grows
// for a longer text without ever taking the source column below its cells; a tip is broken
// into lines that fit its width and loses nothing.
TEST_F(ChannelListTest, StatusTextShowsWholeAndTipsKeepTheirWidth) {
  fill(2);
  list_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(list_.get()));
  QFont heavy = list_->font();
  heavy.setWeight(QFont::Black);
  // What the state picture (20 pixels) and the margins beside it leave for the text.
  const auto room = [&] { return cell_rect(0, ChannelColumn::status).width() - 27; };
  const auto shown_whole = [&](const QString& text) {
    return QFontMetrics(heavy).horizontalAdvance(text) <= room();
  };
  for (const char* text :
       {"00:00:15   20fps@877Kbps", "12:34:56   120fps@25000Kbps", "a longer file name.mp4"}) {
    list_->set_row_state(0, ChannelState::running, text);
    EXPECT_TRUE(shown_whole(text)) << text << " in " << room();
  }
  const int widest = cell_rect(0, ChannelColumn::status).width();
  list_->set_row_state(0, ChannelState::idle, "IDLE");
  EXPECT_EQ(cell_rect(0, ChannelColumn::status).width(), widest) << "it never jumps back";
  list_->set_row_state(1, ChannelState::running, QString(200, 'x').toStdString());
  EXPECT_GE(cell_rect(1, ChannelColumn::source).width(), 116) << "the source cells still fit";

  const std::string address = "srt://203.0.113.7:9000?mode=caller&latency=2000000&streamid=a";
  list_->set_row_texts(1, row_texts(1, address));
  const QPoint over = cell_rect(1, ChannelColumn::source).center();
  QHelpEvent help(QEvent::ToolTip, over, list_->viewport()->mapToGlobal(over));
  QApplication::sendEvent(list_->viewport(), &help);
  QLabel* tip = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->inherits("QTipLabel") && top->isVisible()) tip = qobject_cast<QLabel*>(top);
    return tip != nullptr;
  }));
  EXPECT_LE(tip->width(), kChannelListTipWidth);
  EXPECT_GT(tip->text().count('\n'), 0) << tip->text().toStdString();
  EXPECT_EQ(tip->text().remove('\n').toStdString(), address);
}

TEST_F(ChannelListTest, HoverButtonsFollowTheRuleButNeverTheOpenRow) {
  fill(3);
  list_->show();
  QWidget* stop = child("hover_stop");
  QWidget* start = child("hover_start");

  move_pointer_to(0);
  EXPECT_TRUE(stop->isHidden()) << "no rule, no buttons";

  // Row 0 runs; every other row is idle and would offer start.
  list_->set_hover_rule([](int row) {
    return hover_buttons(row == 0 ? ChannelState::running : ChannelState::idle, false, false);
  });
  open_cells(1);
  EXPECT_FALSE(stop->isHidden()) << "a new rule places the buttons on the row under the pointer";
  EXPECT_EQ(stop->geometry(), cell_rect(0, ChannelColumn::status));
  EXPECT_TRUE(start->isHidden());

  move_pointer_to(1);
  for (const char* name : {"hover_start", "hover_stop", "hover_previous", "hover_next"}) {
    EXPECT_TRUE(child(name)->isHidden()) << name;
  }

  move_pointer_to(2);
  EXPECT_FALSE(start->isHidden());
  const QRect status = cell_rect(2, ChannelColumn::status);
  EXPECT_EQ(start->geometry().right(), status.right());
  EXPECT_EQ(start->geometry().top(), status.top());

  QSignalSpy commands(list_.get(), &ChannelListView::hoverCommand);
  static_cast<QToolButton*>(start)->click();
  ASSERT_EQ(commands.count(), 1);
  EXPECT_EQ(commands[0][0].value<HoverCommand>(), HoverCommand::start);
  EXPECT_EQ(commands[0][1].toInt(), 2);

  // A double click edits only while no row's cells are open.
  QSignalSpy edits(list_.get(), &ChannelListView::editRequested);
  QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {},
                     cell_rect(2, ChannelColumn::memo).center());
  EXPECT_EQ(edits.count(), 0);
  list_->show_cells(std::nullopt, SourceCells([] { return 0; }));
  QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {},
                     cell_rect(2, ChannelColumn::memo).center());
  ASSERT_EQ(edits.count(), 1);
  EXPECT_EQ(edits[0][0].toInt(), 2);
}

TEST_F(ChannelListTest, OpenCellsFollowTheirRowAndHideOutOfView) {
  fill(16);
  list_->show();
  open_cells(3);
  QWidget* address = child("source_address");
  QWidget* memo = child("memo");
  QWidget* browse = child("source_browse");
  EXPECT_EQ(memo->geometry(), cell_rect(3, ChannelColumn::memo));
  EXPECT_FALSE(browse->isHidden()) << "a file source offers the file menu";
  EXPECT_EQ(list_->model()->index(3, 1).data().toString(), "") << "the cells cover the address";

  QScrollBar* scroll = list_->verticalScrollBar();
  scroll->setValue(2);
  EXPECT_FALSE(address->isHidden());
  EXPECT_EQ(memo->geometry(), cell_rect(3, ChannelColumn::memo));
  EXPECT_EQ(address->geometry().top(), cell_rect(3, ChannelColumn::source).top());

  scroll->setValue(4);
  for (const char* name : {"source_type", "source_address", "source_browse", "bind", "memo"}) {
    EXPECT_TRUE(child(name)->isHidden()) << name;
  }

  scroll->setValue(0);
  EXPECT_FALSE(address->isHidden());
  EXPECT_EQ(memo->geometry(), cell_rect(3, ChannelColumn::memo));

  SourceCells typed([] { return 16; });
  static_cast<QLineEdit*>(address)->setText("rtmp://live/a");
  list_->read_cells(typed);
  EXPECT_EQ(typed.address, "rtmp://live/a");
  EXPECT_EQ(typed.bind, "2");
}

// The picture cell shows the thumbnail, decoded again only for a new tag; the history cell shows
// a dip below the line's top, no line where figures are missing, and the quiet seconds in red.
TEST_F(ChannelListTest, PictureAndHistoryCellsDrawTheirRecords) {
  const testing_support::fs::path folder = testing_support::fresh_test_folder("vx-list");
  fill(3);
  list_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(list_.get()));
  const Thumbnail bars = jpeg_thumbnail(folder, "bars", "smptehdbars=size=320x180");
  list_->set_row_picture(0, bars);
  list_->set_row_history(0, eventful_history());
  list_->set_row_history(1, std::vector<HistorySample>(kHistorySamples, HistorySample{}));

  const QImage shot = list_->viewport()->grab().toImage();
  const auto count = [&](const QRect& area, const std::function<bool(QColor)>& which) {
    int found = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        found += which(shot.pixelColor(x, y));
    return found;
  };
  // Pixels other than the row's own grey.
  const auto drawn_in = [&](int row, ChannelColumn column) {
    const QColor grey = shot.pixelColor(cell_rect(row, ChannelColumn::number).topLeft());
    return count(cell_rect(row, column), [&](QColor c) { return c != grey; });
  };
  // A 16:9 picture about 60 x 34 in the middle of its cell.
  EXPECT_GT(drawn_in(0, ChannelColumn::picture), 55 * 30);
  EXPECT_EQ(drawn_in(1, ChannelColumn::picture), 0);

  const QRect box = cell_rect(0, ChannelColumn::history).adjusted(3, 3, -3, -3);
  const int band = (box.height() - 3) / 2;
  const auto second_x = [&](int second) {
    return box.left() + static_cast<int>((second + 0.5) * box.width() / kHistorySamples);
  };
  const auto green = [](QColor c) { return c.green() > c.red() + 40 && c.green() > c.blue() + 40; };
  const auto blue = [](QColor c) { return c.blue() > c.red() + 60; };
  const auto red = [](QColor c) { return c.red() > c.green() + 40; };
  // How far below the band's top the frame-rate line is drawn at a second; -1: not drawn.
  const auto line_depth = [&](int second) {
    for (int y = 0; y < band; ++y)
      if (green(shot.pixelColor(second_x(second), box.top() + y))) return y;
    return -1;
  };
  EXPECT_LE(line_depth(100), 1) << "the usual rate is the top";
  EXPECT_GE(line_depth((kDipFrom + kDipTo) / 2), band / 3) << "the dip lies lower";
  EXPECT_EQ(line_depth((kGapFrom + kGapTo) / 2), -1) << "the stop leaves a gap";
  EXPECT_TRUE(red(shot.pixelColor(second_x((kQuietFrom + kQuietTo) / 2), box.center().y())));
  EXPECT_FALSE(red(shot.pixelColor(second_x(100), box.center().y())));
  EXPECT_GT(count(box.adjusted(0, band + 3, 0, 0), blue), box.width() / 2) << "the bit rate";
  const QRect idle_box = cell_rect(1, ChannelColumn::history).adjusted(3, 3, -3, -3);
  EXPECT_EQ(count(idle_box, [&](QColor c) { return green(c) || blue(c) || red(c); }), 0);

  // The same tag is the same picture, whatever the bytes; a new one that is no picture empties
  // the cell; the same history repaints nothing.
  QSignalSpy changes(list_->model(), &QAbstractItemModel::dataChanged);
  list_->set_row_picture(0, Thumbnail{"not a picture", bars.tag});
  list_->set_row_history(0, eventful_history());
  EXPECT_EQ(changes.count(), 0);
  list_->set_row_picture(0, Thumbnail{"not a picture", "other"});
  ASSERT_EQ(changes.count(), 1);
  EXPECT_EQ(changes[0][0].value<QModelIndex>(), list_->model()->index(0, 5));
  const QImage emptied = list_->viewport()->grab().toImage();
  EXPECT_EQ(emptied.copy(cell_rect(0, ChannelColumn::picture)),
            emptied.copy(cell_rect(2, ChannelColumn::picture)));
  testing_support::fs::remove_all(folder);
}

// A list with every kind of row, open cells, the load meters and the logo panel, for a person to
// look at.
TEST_F(ChannelListTest, Screenshot) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* about = new LogoPanel;
  auto* list = new ChannelListView;
  auto* cpu = new LoadMeter;
  layout->addWidget(about);
  layout->addWidget(list);
  layout->addWidget(cpu);
  window.resize(900, 420);

  const std::vector<std::pair<ChannelState, std::string>> states = {
      {ChannelState::idle, "IDLE"},
      {ChannelState::running, "00:12:41   25fps@4500Kbps"},
      {ChannelState::running, "clip & trailer 02.mp4"},
      {ChannelState::stopping, "STOPPING"},
      {ChannelState::no_signal, "NO SIGNAL"},
      {ChannelState::idle, "IDLE"}};
  for (std::size_t i = 0; i < states.size(); ++i) {
    const int row = static_cast<int>(i);
    list->add_row(row_texts(row, row == 2 ? "/media/clips"
                                          : "srt://203.0.113.7:9000?mode=caller&latency=2000000"
                                            "&streamid=very-long-stream-name"));
    list->set_row_state(row, states[i].first, states[i].second);
  }
  list->set_row_texts(1, {"2", "rtmp://live.example/app/key", "1", "Studio & B"});
  // The running rows with their pictures (a 4:3 one among them) and their last ten minutes.
  const testing_support::fs::path folder = testing_support::fresh_test_folder("vx-list");
  const std::pair<int, const char*> pictures[] = {{1, "testsrc2=size=320x180"},
                                                  {2, "smptehdbars=size=320x180"},
                                                  {3, "mandelbrot=size=320x180"},
                                                  {4, "testsrc=size=320x240"}};
  for (const auto& [row, source] : pictures) {
    list->set_row_picture(row, jpeg_thumbnail(folder, std::to_string(row), source));
  }
  std::vector<HistorySample> steady(kHistorySamples, {25, 4500, ChannelState::running});
  for (std::size_t k = 0; k < steady.size(); ++k)
    steady[k].bitrate_kbps = 4200 + (k * 37) % 600;
  std::vector<HistorySample> started(kHistorySamples);
  std::fill(started.end() - 200, started.end(), HistorySample{30, 6000, ChannelState::running});
  list->set_row_history(1, steady);
  list->set_row_history(2, eventful_history());
  list->set_row_history(3, started);
  std::vector<HistorySample> quiet = steady;
  std::fill(quiet.end() - 90, quiet.end(), HistorySample{0, 0, ChannelState::no_signal});
  list->set_row_history(4, quiet);
  list->set_hover_rule(
      [](int row) { return hover_buttons(ChannelState::running, row == 2, false); });
  SourceCells cells([list] { return list->row_count(); });
  cells.address = "/media/news";
  cells.memo = "evening news";
  list->show_cells(5, cells);
  list->select_row(1);
  cpu->set_loads({3, 49, 50, 78, 100, 12, 0, 64});

  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QPoint over_folder = list->visualRect(list->model()->index(2, 3)).center();
  QMouseEvent move(QEvent::MouseMove, over_folder, list->viewport()->mapToGlobal(over_folder),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &move);

  ASSERT_TRUE(QDir().mkpath(VX_DESKTOP_SHOTS));
  EXPECT_TRUE(window.grab().save(VX_DESKTOP_SHOTS "/channel-list.png"));
  testing_support::fs::remove_all(folder);
}

}  // namespace
}  // namespace vx
