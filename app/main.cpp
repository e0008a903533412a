#include "app/app.h"

int main() { return veltrace::app::startUp(); }
