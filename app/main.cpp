#include "app/CUpdaterApp.h"

int main(int argc, char** argv) {
    toval::CUpdaterApp app;
    return app.Run(argc, argv);
}
