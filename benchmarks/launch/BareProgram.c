/* The least a program start costs on this machine: the yardstick for Zorvane's handover. */
int main(void) { return 0; }
