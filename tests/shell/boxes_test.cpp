// The three box kinds and the general error display, as the user meets them.
#include "shell/error_display.h"
#include "shell/message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace quill;

namespace {

struct SeenBox {
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton;
};

}  // namespace

class BoxesTest : public QObject {
    Q_OBJECT
private slots:
    void errorAndInformationBoxes() {
        QtMessageBoxes boxes;
        auto seen = std::make_shared<SeenBox>();
        QTimer::singleShot(50, [seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seen->caption = box->windowTitle();
            seen->icon = box->icon();
            for (QAbstractButton* b : box->buttons()) seen->buttons << b->text();
            seen->defaultButton = box->defaultButton()->text();
            QTest::keyClick(box, Qt::Key_Return);
        });
        boxes.error("Could not download the template!");
        QCOMPARE(seen->caption, QString("Error"));
        QCOMPARE(seen->icon, QMessageBox::Critical);
        QCOMPARE(seen->buttons, QStringList{"OK"});
        QCOMPARE(seen->defaultButton, QString("OK"));

        QTimer::singleShot(50, [seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seen->caption = box->windowTitle();
            seen->icon = box->icon();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        boxes.information("Template installed successfully.");
        QCOMPARE(seen->caption, QString("Information"));
        QCOMPARE(seen->icon, QMessageBox::Information);
    }

    void confirmationIsYesOnlyForYes() {
        QtMessageBoxes boxes;
        auto seen = std::make_shared<SeenBox>();
        auto look = [seen](int key, bool close) {
            QTimer::singleShot(50, [seen, key, close] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                seen->caption = box->windowTitle();
                seen->icon = box->icon();
                seen->buttons.clear();
                for (QAbstractButton* b : box->buttons()) seen->buttons << b->text();
                seen->defaultButton = box->defaultButton()->text();
                if (close) box->close(); else QTest::keyClick(box, static_cast<Qt::Key>(key));
            });
        };
        look(Qt::Key_Return, false);
        QVERIFY(boxes.confirm("Are you sure?"));
        QCOMPARE(seen->caption, QString("Confirm"));
        QCOMPARE(seen->icon, QMessageBox::Question);
        QCOMPARE(seen->buttons, (QStringList{"&Yes", "&No"}));
        QCOMPARE(seen->defaultButton, QString("&Yes"));

        look(Qt::Key_Escape, false);
        QVERIFY(!boxes.confirm("Are you sure?"));
        look(Qt::Key_N, false);
        QVERIFY(!boxes.confirm("Are you sure?"));
        look(0, true);
        QVERIFY(!boxes.confirm("Are you sure?"));
    }

    void generalErrorDisplayCaptionAndText() {
        QCOMPARE(applicationTitle("/opt/app/final_inst"), std::string("final_inst"));
        QCOMPARE(applicationTitle("/opt/app/FINAL_INST.bin.old"), std::string("Final_inst"));
        QCOMPARE(applicationTitle("Setup"), std::string("Setup"));
        QCOMPARE(errorDisplayText("Stream read error"), std::string("Stream read error."));
        QCOMPARE(errorDisplayText("Connection Closed Gracefully."), std::string("Connection Closed Gracefully."));
        QCOMPARE(errorDisplayText("Socket Error # 10061\r\nConnection refused."), std::string("Socket Error # 10061\r\nConnection refused."));
        QCOMPARE(errorDisplayText("HTTP/1.1 404 Not Found"), std::string("HTTP/1.1 404 Not Found."));
        QCOMPARE(errorDisplayText("done!"), std::string("done!"));  // "!" sorts before "."
        QCOMPARE(errorDisplayText("crème brûlée"), std::string("crème brûlée."));
        QCOMPARE(errorDisplayText(""), std::string(""));
    }
};

QTEST_MAIN(BoxesTest)
#include "boxes_test.moc"
