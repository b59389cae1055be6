/* Macro 1 as include */

#define MACRO_1_PAGE_3_LEN  9

unsigned char MACRO_1_PAGE_3[MACRO_1_PAGE_3_LEN] =
{
   27, 71, 88,  1,  2,  2,  0,  3,  0
};
