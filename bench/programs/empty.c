/* The smallest program: start-up and an empty main. */
void main(void)
{
}
