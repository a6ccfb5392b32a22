#include "app/product_table.h"

const ProductEntry ProductTable[] = {
    {"盤燈 青の巻", "upda.dat", "BantokiA.exe", "BANTOKIA.EXE"},
    {"盤燈 赤の巻", "updb.dat", "BantokiB.exe", "BANTOKIB.EXE"},
    {"盤燈 白の巻", "updc.dat", "BantokiC.exe", "BANTOKIC.EXE"},
    {"盤燈 黒の巻", "updd.dat", "BantokiD.exe", "BANTOKID.EXE"},
    {nullptr, nullptr, nullptr, nullptr},
};
