// Runs one registered suite: brenvik_gui_tests SUITE [Qt Test options], or all of them.

#include "app/startup.h"
#include "tests/app/gui_test_support.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <map>

namespace gui_test {
std::map<std::string, SuiteFactory>& registry() {
  static std::map<std::string, SuiteFactory> suites;
  return suites;
}
}  // namespace gui_test

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  use_utf8_ctype_in_c_locale();  // as the application does, for MediaInfo's sake
  QStringList args = app.arguments();
  std::string only;
  if (args.size() > 1 && !args.at(1).startsWith(QLatin1Char('-'))) only = args.takeAt(1).toStdString();

  auto& suites = gui_test::registry();
  if (!only.empty() && !suites.count(only)) {
    std::fprintf(stderr, "no suite named %s\n", only.c_str());
    return 2;
  }
  int failures = 0;
  for (auto& [name, make] : suites) {
    if (!only.empty() && name != only) continue;
    std::unique_ptr<QObject> suite = make();
    failures += QTest::qExec(suite.get(), args);
  }
  return failures == 0 ? 0 : 1;
}
