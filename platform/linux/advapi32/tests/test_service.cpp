int runTestService(int, char**)
{
    return 0;
}
