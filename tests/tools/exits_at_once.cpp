// Ends as soon as it starts, with exit code 7.

int wmain()
{
    return 7;
}
