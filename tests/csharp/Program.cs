// A C# host: creates arrays, runs operations on them and prints the results.
using System;
using System.Globalization;
using System.Linq;
using Qor;

static class Program
{
    static string Show(float[] v) =>
        string.Join(" ", v.Select(x => x.ToString("0.####", CultureInfo.InvariantCulture)));

    static int Main()
    {
        QorInfo info;
        using (var a = new QorArray(5, DataFormat.F32))
        using (var b = new QorArray(5, DataFormat.F32))
        using (var q = new QorArray(5, DataFormat.F32))
        {
            Native.Check("qor_get_info", Native.qor_get_info(a.Handle, out info));
            Console.WriteLine($"array: {info.Size} x {info.DataType}, {info.ValidBits} valid bits, aligned {(info.FrameBuf.ToInt64() % 64 == 0)}");

            a.Set(new float[] { 1, 2, 4, 8, -16 });
            b.Set(new float[] { 3, 3, 3, 3, 3 });
            Native.Check("qor_div", Native.qor_div(a.Handle, b.Handle, q.Handle));
            Console.WriteLine("3 / a: " + Show(q.ToFloats()));
            Native.Check("qor_square", Native.qor_square(a.Handle, q.Handle));
            Console.WriteLine("a^2: " + Show(q.ToFloats()));
            float lo = float.PositiveInfinity, hi = float.NegativeInfinity;
            Native.Check("qor_min_max", Native.qor_min_max(a.Handle, ref lo, ref hi));
            Console.WriteLine($"min {lo}, max {hi}");
        }

        // Errors come back as statuses: -4 for arrays of different formats, -6 for a bad handle.
        using (var f = new QorArray(3, DataFormat.F32))
        using (var d = new QorArray(3, DataFormat.F64))
        {
            Console.WriteLine($"mixed formats: {Native.qor_square(f.Handle, d.Handle)}");
        }
        Console.WriteLine($"bad handle: {Native.qor_destroy_array(12345)}");
        return 0;
    }
}
