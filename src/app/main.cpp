#include "app/client.h"

int main(int argc, char *argv[])
{
    return runClient(argc, argv);
}
