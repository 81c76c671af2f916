// PrVardo: the 24-hour switch timer for the six-output power strip.

#include "Application.h"
#include "UnitVardo.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    TFormVardo FormVardo;
    FormVardo.show();
    return application.exec();
}
