// The results model: rows arrive in batches at their sorted places, are
// re-sorted and deleted, and the model keeps Qt's model rules throughout.
#include "ui/results_model.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qt_app.h"
#include "search/found_file.h"

namespace quindelo::ui {
namespace {

// Names of the rows, top to bottom.
std::vector<std::string> RowNames(const ResultsModel& model) {
  std::vector<std::string> names;
  for (int row = 0; row < model.RowCount(); ++row) names.push_back(model.RowRecord(row)->name());
  return names;
}

TEST(ResultsModel, BatchesGoInAtTheirPlacesOneInsertionPerRun) {
  testing::TestApp();
  ResultsPool pool;
  CurrentFolder current;
  ResultsModel model;
  model.SetPool(&pool);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

  auto add = [&](const char* path) { return pool.AddFoundFile(path, &current); };
  model.InsertRows({{0, add("X:\\b")}, {1, add("X:\\d")}});
  // a before b, c between b and d, e and f after d: three runs.
  model.InsertRows({{0, add("X:\\a")}, {2, add("X:\\c")}, {4, add("X:\\e")}, {5, add("X:\\f")}});
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e", "f"}), RowNames(model));
  EXPECT_EQ(4, inserted.count());
  EXPECT_EQ(nullptr, model.RowRecord(6));
  EXPECT_EQ(nullptr, model.RowRecord(-1));

  model.DeleteAllRows();
  EXPECT_EQ(0, model.RowCount());
}

}  // namespace
}  // namespace quindelo::ui
