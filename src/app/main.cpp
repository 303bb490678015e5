#include "app/Application.h"

int main(int argc, char** argv) {
    return qarvia::runApplication(argc, argv);
}
