#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel label("Kavronel Download Manager");
    label.show();
    return app.exec();
}
