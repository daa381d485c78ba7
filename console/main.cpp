// Wardenhall: the administration console of the Norvane engine.
//   Wardenhall [--server HOST] [--port N] [--user NAME]
// The options stand in for the stored settings and are saved with them at exit.

#include "console/WardenhallApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    return theApp.Run(QApplication::arguments());
}
