# the run; scripts/oracle --recheck /work/main/oracle-failures/seed-9620098 checks it again
cd "$(dirname "$0")" && /work/main/build/release/app/qrx --work . -o CPUCOUNT=1 -o MEMSIZE=2G --json out.json case.qrx
