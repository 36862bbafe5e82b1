// Pagewick: a reader for Compiled HTML Help books. `pagewick [--context N] [book.chm[::/topic]]`
// (see commandline.h); without a book it opens its own user guide, Help.chm, from the current
// folder or else the one installed with it.

#include "startup.h"

int main(int argc, char** argv)
{
    return runPagewick(argc, argv);
}
