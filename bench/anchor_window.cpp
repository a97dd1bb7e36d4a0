// The yardstick for the program's start-up: the least a Qt 6 desktop program
// of its kind shows, a main window with a menu bar and a table view. It
// starts, shows the window and runs until it is ended from outside, as the
// program does (scripts/measure-preview.py times both to the window mapped).
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QStandardItemModel>
#include <QTableView>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("数据表(&F)"))->addAction(QStringLiteral("退出(&Q)"));
    QStandardItemModel model(20, 6);
    auto *table = new QTableView;
    table->setModel(&model);
    window.setCentralWidget(table);
    window.resize(800, 600);
    window.show();
    return app.exec();
}
