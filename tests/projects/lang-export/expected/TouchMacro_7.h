/* TouchMacro 7 as include */

#define TOUCHMACRO_7_LEN  3

unsigned char TOUCHMACRO_7[TOUCHMACRO_7_LEN] =
{
   27, 68, 76
};
