#include <scan39/host/picture.h>
#include <scan39/uo_scan.h>
#include <QApplication>
#include <iostream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    scan39::Uo_Scan scan;                                 // a widget; it need not be shown to scan
    scan.setPicture(scan39::host::LoadPicture(argv[1]));  // throws host::RuntimeError
    scan.setXa(std::atoi(argv[2]) * 15);
    scan.setYa(std::atoi(argv[3]) * 15);
    scan.setXb((scan.Picture()->width() + 1) * 15);
    if (scan.Scan() == 0) std::cout << scan.Value().toStdString() << '\n';
    return scan.Scan();
}
