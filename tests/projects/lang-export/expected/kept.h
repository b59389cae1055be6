/* Macro 10 as include */

#define KEPT_LEN  3

long KEPT[KEPT_LEN] =
{
   27, 68, 76
};
