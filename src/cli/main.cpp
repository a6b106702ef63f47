#include "flashtool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FlashTool tool;
    return tool.run(QCoreApplication::arguments());
}
