// The owner of the test programs' precompiled headers: it compiles them, and nothing else.
int main()
{
    return 0;
}
