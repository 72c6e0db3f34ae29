// Filling the template list with 20,000 templates, as a search or the first
// show of the main window fills it: our model-based list through the main
// window's CatalogueView against a plain QListWidget filled item by item, the
// way the list was filled before. Each fill is timed with the layout and the
// paint it causes, in a shown window of the main window's size.
// Usage: bench_list_fill [templates=20000] [rounds=5]
#include "shell/Unit3.h"

#include <QApplication>
#include <QListWidget>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsOf(const std::function<void()>& fill) {
    const auto start = Clock::now();
    fill();
    QCoreApplication::processEvents();  // the layout and the paint the fill causes
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    std::vector<quill::TemplateItem> templates;
    for (int i = 0; i < count; ++i)
        templates.push_back({"Template " + std::to_string(i * 7919 % count) + " for a small business", i + 1});

    quill::TForm3 form;
    form.resize(838, 574);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    quill::CatalogueView& view = form;

    QWidget peerWindow;
    peerWindow.resize(838, 574);
    auto* peer = new QListWidget(&peerWindow);
    peer->setGeometry(1, 128, 399, 113);
    peerWindow.show();
    if (!QTest::qWaitForWindowExposed(&peerWindow)) return 1;

    std::vector<double> ours, theirs;
    for (int round = 0; round <= rounds; ++round) {
        const double a = millisecondsOf([&] {
            view.setTemplates(templates);
            view.selectTemplate(0);
        });
        const double b = millisecondsOf([&] {
            const QSignalBlocker quiet(peer);
            peer->clear();
            for (const auto& t : templates) {
                auto* item = new QListWidgetItem(QString::fromStdString(t.name), peer);
                item->setData(Qt::UserRole, t.id);
            }
            peer->setCurrentRow(0);
        });
        if (view.templateCount() != count || peer->count() != count) return 1;
        if (round == 0) continue;  // warms the fonts and the caches
        std::printf("round %d: ours %.1f ms, QListWidget item by item %.1f ms\n", round, a, b);
        ours.push_back(a);
        theirs.push_back(b);
    }
    const double best = *std::min_element(ours.begin(), ours.end());
    const double peerBest = *std::min_element(theirs.begin(), theirs.end());
    std::printf("%d templates, best: ours %.1f ms, QListWidget item by item %.1f ms, ratio %.3f\n", count, best,
                peerBest, best / peerBest);
    std::printf("median: ours %.1f ms, QListWidget item by item %.1f ms (limit for ours: a few tens of ms)\n",
                median(ours), median(theirs));
    return 0;
}
