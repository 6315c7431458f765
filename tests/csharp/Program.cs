// A C# host: the declarations' plumbing, one call of each parameter shape; its output is compared
// with expected.txt.
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
            float lo = float.PositiveInfinity, hi = float.NegativeInfinity;
            Native.Check("qor_min_max", Native.qor_min_max(a.Handle, ref lo, ref hi));
            Console.WriteLine($"min {lo}, max {hi}");
        }

        // Counters written into a managed array, and three results through out parameters.
        using (var bell = new QorArray(60, DataFormat.F32))
        {
            var counts = new uint[4];
            Native.Check("qor_vector_slope", Native.qor_vector_slope(bell.Handle, 0.0f, 1.0f));
            Native.Check("qor_histogram", Native.qor_histogram(bell.Handle, counts, 4, 0.0f, 80.0f));
            Console.WriteLine("histogram: " + string.Join(" ", counts));
            Native.Check("qor_gaussian_plot", Native.qor_gaussian_plot(bell.Handle, 1.5f, 0.8f, 3.0f, -2.0f, 0.1f));
            bell.Set(bell.ToFloats().Select(v => v - 1.0f).ToArray());
            float centre, sigma, amplitude;
            Native.Check("qor_gaussian_fit", Native.qor_gaussian_fit(bell.Handle, -2.0f, 0.1f, out centre, out sigma, out amplitude));
            Console.WriteLine(string.Format(CultureInfo.InvariantCulture, "gaussian fit: centre {0:0.000} sigma {1:0.000} amplitude {2:0.000}",
                centre, sigma, amplitude));
        }

        // Errors come back as negative statuses.
        using (var f = new QorArray(3, DataFormat.F32))
        using (var d = new QorArray(3, DataFormat.F64))
        {
            Console.WriteLine($"mixed formats: {Native.qor_square(f.Handle, d.Handle)}");
        }
        Console.WriteLine($"bad handle: {Native.qor_destroy_array(12345)}");
        try { Native.Check("qor_sum", Native.qor_sum(-1)); }
        catch (QorException e) { Console.WriteLine(e.Message); }
        return 0;
    }
}
