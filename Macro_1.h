/* Macro 1 as include */

#define MACRO_1_LEN  9

unsigned char MACRO_1[MACRO_1_LEN] =
{
   27, 71, 88,  1,  2,  2,  0,  3,  0
};
