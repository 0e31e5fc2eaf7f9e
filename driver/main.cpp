// cpubench: runs the fixed sequence of workloads, prints one line per timed
// run, then waits for ENTER. Command-line arguments are ignored.
//
// Exit status: 0 after a complete run; 1 when GMP could not be bound, when
// the memory workload could not get its buffers, or when the output could
// not be written.
#include "driver/console.h"
#include "gmpbind/gmpapi.h"
#include "kernels/kernels.h"

#include <cmath>
#include <cstdio>

int main()
{
    prepareOutput();

    GmpApi gmp;
    if (!bindGmp(gmp))
        return 1;

    const double sqrtV = std::sqrt(3.23456);
    const double sqrtU = std::sqrt(3.72345);

    std::printf("Varnholm's CPU Benchmark 2018 \n\n");
    runCrossLog(sqrtV, sqrtU);
    runPackedMul();
    // From here on every line goes through GMP's formatted output.
    runGmpPower(gmp);
    runMulDiv(gmp);
    runMulMod32(gmp);
    int status = runFillCopy(gmp);

    gmp.gmpPrintf("fertig! Beenden mit ENTER");
    if (outputFailed())
        status = 1;
    releaseGmp(gmp);
    waitForKey();
    return status;
}
